#include "http/base64_coder.h"

#include <algorithm>

#include "http/http_exceptions.h"

namespace quenby {
namespace {

constexpr std::size_t GroupChars = 4;
constexpr std::size_t GroupBytes = 3;
constexpr int BitsPerChar = 6;
constexpr std::uint32_t ByteMask = 0xFF;
constexpr std::uint32_t CharMask = 0x3F;

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
  result.reserve((text.size() + GroupBytes - 1) / GroupBytes * GroupChars);
  for (std::size_t i = 0; i < text.size(); i += GroupBytes) {
    const std::size_t count = std::min(GroupBytes, text.size() - i);
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < GroupBytes; ++k) {
      const std::uint32_t byte = k < count ? static_cast<unsigned char>(text[i + k]) : 0;
      bits = (bits << 8) | byte;
    }
    for (std::size_t k = 0; k < GroupChars; ++k) {
      const int shift = BitsPerChar * static_cast<int>(GroupChars - 1 - k);
      result += k <= count ? Base64Alphabet[(bits >> shift) & CharMask] : Base64Fill;
    }
  }
  return result;
}

TDecoderMIME::TDecoderMIME() : table_(SharedDecodeTable()) {}

std::string TDecoderMIME::Decode(std::string_view text) const {
  if (text.size() % GroupChars != 0)
    throw EDecoderError("Uneven size in DecodeToStream.");
  std::string result;
  result.reserve(text.size() / GroupChars * GroupBytes);
  for (std::size_t i = 0; i < text.size(); i += GroupChars) {
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < GroupChars; ++k)
      bits = (bits << BitsPerChar) | table_[static_cast<unsigned char>(text[i + k])];
    std::size_t count = GroupBytes;
    if (text[i + 2] == Base64Fill)
      count = 1;
    else if (text[i + 3] == Base64Fill)
      count = 2;
    for (std::size_t k = 0; k < count; ++k)
      result += static_cast<char>((bits >> (8 * (GroupBytes - 1 - k))) & ByteMask);
  }
  return result;
}

}  // namespace quenby
