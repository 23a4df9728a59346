#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "util/file_handle.h"

namespace quenby {

/// A positioned byte stream: the body streams of requests and replies, and the sources and
/// targets of the connection's stream reads and writes. Failures raise EInOutError.
class TStream {
 public:
  virtual ~TStream() = default;
  /// Reads up to `count` bytes at the position; returns how many were read (0 at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  /// Writes `count` bytes at the position, growing the stream when needed.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Size() const = 0;
  /// Grows (zero-filled) or cuts the stream; the position is kept unless it was beyond.
  virtual void SetSize(std::int64_t size) = 0;
  std::int64_t Position() const { return position_; }
  void SetPosition(std::int64_t position) { position_ = position < 0 ? 0 : position; }

 protected:
  std::int64_t position_ = 0;
};

/// A stream in memory. Its bytes are a text, so the request loop can take a body read into
/// it as `PostedText` whole.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;
  const std::string& DataString() const { return data_; }
  void Clear();

 private:
  std::string data_;
};

/// A file opened for reading (or created for writing). The file is closed by the destructor.
class TFileStream : public TStream {
 public:
  enum class Mode { Read, Create };
  /// Raises EInOutError naming the file when it cannot be opened.
  TFileStream(const std::string& file_name, Mode mode);
  /// Reads an already open file, which it then owns.
  TFileStream(TFileHandle file, const std::string& file_name);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Size() const override;
  void SetSize(std::int64_t size) override;
  int Handle() const { return fd_; }

 private:
  int fd_ = -1;
  std::string file_name_;
};

}  // namespace quenby
