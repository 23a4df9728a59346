#include "net/managed_buffer.h"

#include "net/net_exceptions.h"

namespace quenby {

void TSimpleBuffer::Append(const void* bytes, std::size_t count) {
  data_.append(static_cast<const char*>(bytes), count);
}

void TSimpleBuffer::Remove(std::size_t count) {
  if (count > data_.size()) {
    throw ENotEnoughDataInBuffer(RSNotEnoughDataInBuffer);
  }
  data_.erase(0, count);
  if (OnBytesRemoved) {
    OnBytesRemoved(static_cast<std::int64_t>(count));
  }
}

std::string TSimpleBuffer::Extract(std::size_t count) {
  if (count > data_.size()) {
    throw ENotEnoughDataInBuffer(RSNotEnoughDataInBuffer);
  }
  std::string bytes = data_.substr(0, count);
  Remove(count);
  return bytes;
}

void TSimpleBuffer::Clear() {
  data_.clear();
}

void TManagedBuffer::Append(const void* bytes, std::size_t count) {
  data_.append(static_cast<const char*>(bytes), count);
}

void TManagedBuffer::Remove(std::size_t count) {
  if (count > Size()) {
    throw ENotEnoughDataInBuffer(RSNotEnoughDataInBuffer);
  }
  if (count == Size()) {
    Clear();
  } else {
    offset_ += count;
    if (offset_ >= ManagedBufferCompactAt) {
      data_.erase(0, offset_);
      offset_ = 0;
    }
  }
  if (OnBytesRemoved) {
    OnBytesRemoved(static_cast<std::int64_t>(count));
  }
}

std::string TManagedBuffer::Extract(std::size_t count) {
  if (count > Size()) {
    throw ENotEnoughDataInBuffer(RSNotEnoughDataInBuffer);
  }
  std::string bytes(Data(), count);
  Remove(count);
  return bytes;
}

std::size_t TManagedBuffer::Find(std::string_view needle, std::size_t from) const {
  return View().find(needle, from);
}

void TManagedBuffer::Clear() {
  data_.clear();
  offset_ = 0;
}

}  // namespace quenby
