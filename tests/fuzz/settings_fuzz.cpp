// The settings file: its text read into a document (which must give the same bytes back)
// and changed; and the same text loaded from disk into the settings cache.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "util/ini_document.h"
#include "util/settings_file.h"

namespace {

std::string g_folder;
std::string g_file;

void RemoveFolder() {
  std::remove(g_file.c_str());
  rmdir(g_folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quenby-settings-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    std::abort();
  g_folder = pattern;
  g_file = g_folder + "/quenby.ini";
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  quenby::TIniDocument document(text);
  FUZZ_CHECK(document.Text() == text);
  const std::vector<std::string> sections = document.ReadSections();
  for (const std::string& section : sections) {
    for (const std::string& key : document.ReadSection(section))
      document.ReadString(section, key);
  }
  try {
    document.WriteString("Setup", "Port", "8080");
    FUZZ_CHECK(document.ReadString("Setup", "Port") == "8080");
  } catch (const quenby::Exception&) {
    // A text that cannot take the line is refused whole.
  }
  if (!sections.empty()) {
    document.EraseSection(sections.front());
    FUZZ_CHECK(document.ReadSection(sections.front()).empty());
  }
  {
    // A new file each time: overwriting one in place makes some file systems flush it.
    std::remove(g_file.c_str());
    std::ofstream out(g_file, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  quenby::LoadSettingsFile(g_file);
  quenby::ReadSettingValue("Setup", "Port");
  std::vector<std::string> aliases;
  quenby::ReadSectionText("Alias", aliases);
  return 0;
}
