// The header list: a header block read from text, every lookup, and setting values that are
// folded and read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "http/header_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  const int width = data[0] % 100;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  quenby::THeaderList headers;
  headers.SetText(text);
  for (int i = 0; i < headers.Count(); ++i) {
    const std::string name = headers.NameOfLine(i);
    headers.ValueOfLine(i);
    if (!name.empty())
      FUZZ_CHECK(headers.IndexOfHeader(name) <= i);
  }
  headers.NameOfLine(-1);
  headers.ValueOfLine(headers.Count());

  // The text read back is read the same way again.
  quenby::THeaderList again;
  again.SetText(headers.Text());
  FUZZ_CHECK(again.Lines() == headers.Lines());

  // The first line names a header and the rest is its value: after setting it, folded or
  // not, the header reads back as the value with its blanks collapsed at fold points.
  const std::size_t cut = text.find('\n');
  if (cut == std::string_view::npos)
    return 0;
  std::string name(text.substr(0, cut));
  const std::string_view value = text.substr(cut + 1);
  if (name.empty() || name.find_first_of(":\r\n") != std::string::npos ||
      value.find_first_of("\r\n") != std::string_view::npos)
    return 0;
  headers.FoldWidth = width;
  headers.SetValue(name, value);
  headers.ValueByName(name);
  headers.ValuesByName(name);
  const std::string folded = quenby::FoldHeaderText(value, width);
  if (static_cast<int>(value.size()) <= width)
    FUZZ_CHECK(folded == value);
  headers.SetValue(name, "");
  return 0;
}
