#include "util/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/exception.h"

namespace quenby {

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t available = Size() - position_;
  if (count <= 0 || available <= 0)
    return 0;
  const std::int64_t n = count < available ? count : available;
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0)
    return 0;
  const auto end = static_cast<std::size_t>(position_ + count);
  if (end > data_.size())
    data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ += count;
  return count;
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(size < 0 ? 0 : size));
  if (position_ > Size())
    position_ = Size();
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

TFileStream::TFileStream(const std::string& file_name, Mode mode) : file_name_(file_name) {
  const int flags = mode == Mode::Read ? O_RDONLY : (O_RDWR | O_CREAT | O_TRUNC);
  fd_ = ::open(file_name.c_str(), flags | O_CLOEXEC, 0644);
  if (fd_ < 0)
    RaiseLastOSError("Cannot open file \"" + file_name + "\"");
}

TFileStream::TFileStream(TFileHandle file, const std::string& file_name)
    : fd_(file.Release()), file_name_(file_name) {}

TFileStream::~TFileStream() {
  if (fd_ >= 0)
    ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0)
    return 0;
  ssize_t n;
  do {
    n = ::pread(fd_, buffer, static_cast<std::size_t>(count), position_);
  } while (n < 0 && errno == EINTR);
  if (n < 0)
    RaiseLastOSError("Cannot read file \"" + file_name_ + "\"");
  position_ += n;
  return n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t written = 0;
  while (written < count) {
    const ssize_t n = ::pwrite(fd_, static_cast<const char*>(buffer) + written,
                               static_cast<std::size_t>(count - written), position_);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      RaiseLastOSError("Cannot write file \"" + file_name_ + "\"");
    written += n;
    position_ += n;
  }
  return written;
}

std::int64_t TFileStream::Size() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0)
    RaiseLastOSError("Cannot read the size of \"" + file_name_ + "\"");
  return info.st_size;
}

void TFileStream::SetSize(std::int64_t size) {
  if (::ftruncate(fd_, size) != 0)
    RaiseLastOSError("Cannot resize \"" + file_name_ + "\"");
  if (position_ > size)
    position_ = size;
}

}  // namespace quenby
