#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quenby {

/// Consumed bytes of the input buffer that are moved out before the rest is compacted.
constexpr std::size_t ManagedBufferCompactAt = 32768;

/// A growable byte buffer whose front can be removed: the scratch of one receive and the
/// collected bytes of write buffering. Removing moves the rest down. One thread uses it.
class TSimpleBuffer {
 public:
  /// Called after every removal with the number of bytes removed.
  std::function<void(std::int64_t)> OnBytesRemoved;

  std::size_t Size() const { return data_.size(); }
  std::size_t Capacity() const { return data_.capacity(); }
  char* Data() { return data_.data(); }
  const char* Data() const { return data_.data(); }
  std::string_view View() const { return data_; }
  /// Grows (zero-filled) or cuts the buffer.
  void SetSize(std::size_t size) { data_.resize(size); }
  void Append(const void* bytes, std::size_t count);
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  /// Removes `count` bytes from the front; raises ENotEnoughDataInBuffer when it holds fewer.
  void Remove(std::size_t count);
  /// The first `count` bytes, removed; raises like Remove.
  std::string Extract(std::size_t count);
  void Clear();

 private:
  std::string data_;
};

/// The connection's input buffer. Consuming bytes advances an offset instead of moving
/// memory; the unconsumed bytes are moved to the front once ManagedBufferCompactAt consumed
/// bytes have accumulated. Sizes and searches see only the unconsumed bytes.
class TManagedBuffer {
 public:
  /// Called after every removal with the number of bytes removed.
  std::function<void(std::int64_t)> OnBytesRemoved;

  std::size_t Size() const { return data_.size() - offset_; }
  const char* Data() const { return data_.data() + offset_; }
  std::string_view View() const { return std::string_view(data_).substr(offset_); }
  /// Bytes consumed but not yet moved out (for tests of the compaction rule).
  std::size_t Offset() const { return offset_; }
  void Append(const void* bytes, std::size_t count);
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  /// Removes `count` bytes from the front; raises ENotEnoughDataInBuffer when it holds fewer.
  void Remove(std::size_t count);
  /// The first `count` bytes, removed; raises like Remove.
  std::string Extract(std::size_t count);
  /// 0-based index of `needle` in the unconsumed bytes at or after `from`, npos if absent.
  std::size_t Find(std::string_view needle, std::size_t from) const;
  void Clear();

 private:
  std::string data_;
  std::size_t offset_ = 0;
};

}  // namespace quenby
