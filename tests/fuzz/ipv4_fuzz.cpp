// IPv4 address texts; an address that reads is written in the dotted form and must read back
// as the same four bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "net/ipv4_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const quenby::TIPv4Parse parsed = quenby::ParseIPv4Address(text);
  FUZZ_CHECK(parsed.kind >= 0 && parsed.kind <= 2);
  if (parsed.kind == 0)
    return 0;
  const std::string dotted =
      std::to_string(parsed.bytes[0]) + "." + std::to_string(parsed.bytes[1]) + "." +
      std::to_string(parsed.bytes[2]) + "." + std::to_string(parsed.bytes[3]);
  const quenby::TIPv4Parse again = quenby::ParseIPv4Address(dotted);
  FUZZ_CHECK(again.kind == 1);
  for (int i = 0; i < 4; ++i)
    FUZZ_CHECK(again.bytes[i] == parsed.bytes[i]);
  return 0;
}
