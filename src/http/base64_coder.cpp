#include "http/base64_coder.h"

#include <algorithm>

#include "http/http_exceptions.h"

namespace quenby {
namespace {

constexpr std::size_t kGroupChars = 4;
constexpr std::size_t kGroupBytes = 3;
constexpr int kBitsPerChar = 6;
constexpr std::uint32_t kByteMask = 0xFF;
constexpr std::uint32_t kCharMask = 0x3F;

TDecoderMIME::Table BuildDecodeTable() {
  TDecoderMIME::Table table{};  // every byte outside the alphabet decodes as 0
  for (std::size_t value = 0; value < Base64Alphabet.size(); ++value)
    table[static_cast<unsigned char>(Base64Alphabet[value])] = static_cast<std::uint8_t>(value);
  return table;
}

// Built once per process, on first use; copied into each decoder.
const TDecoderMIME::Table& SharedDecodeTable() {
  static const TDecoderMIME::Table table = BuildDecodeTable();
  return table;
}

}  // namespace

std::string TEncoderMIME::Encode(std::string_view text) const {
  std::string result;
  result.reserve((text.size() + kGroupBytes - 1) / kGroupBytes * kGroupChars);
  for (std::size_t i = 0; i < text.size(); i += kGroupBytes) {
    const std::size_t count = std::min(kGroupBytes, text.size() - i);
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < kGroupBytes; ++k) {
      const std::uint32_t byte = k < count ? static_cast<unsigned char>(text[i + k]) : 0;
      bits = (bits << 8) | byte;
    }
    for (std::size_t k = 0; k < kGroupChars; ++k) {
      const int shift = kBitsPerChar * static_cast<int>(kGroupChars - 1 - k);
      result += k <= count ? Base64Alphabet[(bits >> shift) & kCharMask] : Base64Fill;
    }
  }
  return result;
}

TDecoderMIME::TDecoderMIME() : table_(SharedDecodeTable()) {}

std::string TDecoderMIME::Decode(std::string_view text) const {
  if (text.size() % kGroupChars != 0)
    throw EDecoderError("Uneven size in DecodeToStream.");
  std::string result;
  result.reserve(text.size() / kGroupChars * kGroupBytes);
  for (std::size_t i = 0; i < text.size(); i += kGroupChars) {
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < kGroupChars; ++k)
      bits = (bits << kBitsPerChar) | table_[static_cast<unsigned char>(text[i + k])];
    std::size_t count = kGroupBytes;
    if (text[i + 2] == Base64Fill)
      count = 1;
    else if (text[i + 3] == Base64Fill)
      count = 2;
    for (std::size_t k = 0; k < count; ++k)
      result += static_cast<char>((bits >> (8 * (kGroupBytes - 1 - k))) & kByteMask);
  }
  return result;
}

}  // namespace quenby
