#pragma once

#include <string>
#include <string_view>

namespace quenby {

/// Owns one POSIX file descriptor and closes it when it goes, so every way out of a file
/// operation closes the file. Use Close() where a failing close must be reported.
/// One owner thread at a time.
class TFileHandle {
 public:
  TFileHandle() = default;
  explicit TFileHandle(int fd) : fd_(fd) {}
  ~TFileHandle();
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  TFileHandle(TFileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TFileHandle& operator=(TFileHandle&& other) noexcept;

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  /// Closes the descriptor; returns 0, or the errno of a failing close (it is closed anyway).
  int Close();
  /// Hands the descriptor over to the caller, who closes it; the handle is then empty.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

/// Opens with open(2), retrying when interrupted; the handle is not open on failure (errno
/// tells why).
TFileHandle OpenFile(const std::string& file_name, int flags, unsigned mode = 0);

/// Writes every byte, continuing after partial writes and interruptions. Returns 0, or the
/// errno of the failing write.
int WriteAll(int fd, std::string_view data);

/// Reads the rest of the file. Returns 0, or the errno of the failing read.
int ReadAll(int fd, std::string& data);

}  // namespace quenby
