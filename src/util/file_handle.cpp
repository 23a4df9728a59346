#include "util/file_handle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quenby {
namespace {

constexpr std::size_t ReadChunkSize = 65536;

}  // namespace

TFileHandle::~TFileHandle() {
  Close();
}

TFileHandle& TFileHandle::operator=(TFileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int TFileHandle::Close() {
  if (fd_ < 0)
    return 0;
  const int fd = fd_;
  fd_ = -1;
  // Linux releases the descriptor even when close reports EINTR, so it is never retried.
  return ::close(fd) == 0 ? 0 : errno;
}

TFileHandle OpenFile(const std::string& file_name, int flags, unsigned mode) {
  int fd = -1;
  do {
    fd = ::open(file_name.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  return TFileHandle(fd);
}

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (written == 0)
      return EIO;  // no progress on a regular file: treat as a device error, never spin
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

int ReadAll(int fd, std::string& data) {
  char buffer[ReadChunkSize];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count == 0)
      return 0;
    if (count < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    data.append(buffer, static_cast<std::size_t>(count));
  }
}

}  // namespace quenby
