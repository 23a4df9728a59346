#include "util/file_system.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <system_error>

#include "util/exception.h"

namespace quenby {

namespace {

// The kernel's link to the program file of the calling process.
constexpr const char* OwnExecutableLink = "/proc/self/exe";

constexpr std::int64_t NanosecondsPerSecond = 1000000000;

std::int64_t Nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * NanosecondsPerSecond + time.tv_nsec;
}

TFileIdentity IdentityOf(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
          static_cast<std::int64_t>(status.st_size), Nanoseconds(status.st_mtim)};
}

TFileVersion VersionOf(const struct stat& status) {
  return {IdentityOf(status), Nanoseconds(status.st_ctim)};
}

}  // namespace

bool IsRegularFile(std::string_view path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

TFileHandle OpenForReading(const std::string& path) {
  TFileHandle file = OpenFile(path, O_RDONLY);
  if (!file.IsOpen()) {
    RaiseLastOSError("Cannot open " + path);
  }
  return file;
}

std::int64_t OpenFileSize(const TFileHandle& file, const std::string& path) {
  return OpenFileVersion(file, path).Identity.Size;
}

std::int64_t FileSize(const std::string& path) {
  const TFileHandle file = OpenForReading(path);
  return OpenFileSize(file, path);
}

TFileIdentity FileIdentity(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0)
    return {};
  return IdentityOf(status);
}

std::optional<TFileVersion> RegularFileVersion(const std::string& path) {
  struct stat status {};
  if (path.empty() || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    return std::nullopt;
  return VersionOf(status);
}

TFileVersion OpenFileVersion(const TFileHandle& file, const std::string& path) {
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) {
    RaiseLastOSError("Cannot read the size of " + path);
  }
  return VersionOf(status);
}

std::string ExecutablePath() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t length = readlink(OwnExecutableLink, buffer.data(), buffer.size());
  if (length < 0) {
    RaiseLastOSError("Cannot read the executable's path");
  }
  buffer.resize(static_cast<std::size_t>(length));
  return buffer;
}

std::uint64_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    return 0;
  }
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
      limit = raised;
    }
  }
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace quenby
