#include "net/ipv4_address.h"

#include <cstdint>
#include <string_view>

namespace quenby {

namespace {

constexpr std::int64_t ByteMax = 255;
constexpr std::int64_t Word16Max = 65535;
constexpr std::int64_t Word24Max = 16777215;
constexpr std::int64_t Word32Max = 4294967295LL;
constexpr int MaxDigits = 12;  // enough for any 32-bit value, small enough never to overflow

// A part that does not convert counts as -1, which no range accepts.
std::int64_t PartValue(std::string_view part) {
  if (part.empty() || part.size() > MaxDigits) {
    return -1;
  }
  std::int64_t value = 0;
  for (char c : part) {
    if (c < '0' || c > '9') {
      return -1;
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

bool InRange(std::int64_t value, std::int64_t max) {
  return value >= 0 && value <= max;
}

// Cuts `rest` at its first "."; the part before is returned, `rest` keeps what follows.
std::string_view CutAtDot(std::string_view& rest) {
  const auto dot = rest.find('.');
  std::string_view part = rest.substr(0, dot);
  rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
  return part;
}

void SetBytes(TIPv4Parse& out, std::uint32_t value) {
  out.bytes[0] = static_cast<std::uint8_t>(value >> 24);
  out.bytes[1] = static_cast<std::uint8_t>(value >> 16);
  out.bytes[2] = static_cast<std::uint8_t>(value >> 8);
  out.bytes[3] = static_cast<std::uint8_t>(value);
}

int ClassOfFirstByte(std::uint8_t first) {
  if (first < 128)
    return 1;
  if (first < 192)
    return 2;
  if (first < 224)
    return 3;
  if (first < 240)
    return 4;
  return 5;
}

}  // namespace

TIPv4Parse ParseIPv4Address(std::string_view text) {
  TIPv4Parse out;
  std::string_view rest = text;
  const std::string_view p1 = CutAtDot(rest);
  const std::string_view p2 = CutAtDot(rest);
  const std::string_view p3 = CutAtDot(rest);
  const std::string_view p4 = rest;
  const std::int64_t v1 = PartValue(p1);
  const std::int64_t v2 = PartValue(p2);
  const std::int64_t v3 = PartValue(p3);
  const std::int64_t v4 = PartValue(p4);

  if (p2.empty()) {
    if (!InRange(v1, Word32Max))
      return out;
    SetBytes(out, static_cast<std::uint32_t>(v1));
    out.kind = 2;
    return out;
  }
  if (p3.empty()) {
    if (!InRange(v1, ByteMax) || !InRange(v2, Word24Max))
      return out;
    SetBytes(out, static_cast<std::uint32_t>((v1 << 24) | v2));
    out.kind = 1;
    out.address_class = 1;
    return out;
  }
  if (p4.empty()) {
    if (!InRange(v1, ByteMax) || !InRange(v2, ByteMax) || !InRange(v3, Word16Max))
      return out;
    SetBytes(out, static_cast<std::uint32_t>((v1 << 24) | (v2 << 16) | v3));
    out.kind = 1;
    out.address_class = 2;
    return out;
  }
  if (!InRange(v1, ByteMax) || !InRange(v2, ByteMax) || !InRange(v3, ByteMax) ||
      !InRange(v4, ByteMax)) {
    return out;
  }
  SetBytes(out, static_cast<std::uint32_t>((v1 << 24) | (v2 << 16) | (v3 << 8) | v4));
  out.kind = 1;
  out.address_class = ClassOfFirstByte(out.bytes[0]);
  return out;
}

}  // namespace quenby
