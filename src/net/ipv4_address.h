#pragma once

#include <cstdint>
#include <string_view>

namespace quenby {

/// Outcome of reading an IPv4 address text.
struct TIPv4Parse {
  /// 0: not an address; 1: dotted form (two to four parts); 2: a single 32-bit number.
  int kind = 0;
  /// 1..5 from the first byte (1 and 2 also for the two- and three-part forms); 0 for the
  /// single-number form. Informational only.
  int address_class = 0;
  /// The address, most significant byte first.
  std::uint8_t bytes[4] = {0, 0, 0, 0};
};

/// Reads "a.b.c.d", "a.b.c" (c 16 bits), "a.b" (b 24 bits) or a single number 0..4294967295.
/// Parts are plain decimal digits; anything else is not an address (kind 0).
TIPv4Parse ParseIPv4Address(std::string_view text);

}  // namespace quenby
