#include "http/mime_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>

#include "http/mime_builtin_types.h"
#include "util/text.h"

namespace quenby {
namespace {

using ::testing::AllOf;
using ::testing::Property;
using ::testing::StrEq;
using ::testing::Throws;
using ::testing::ThrowsMessage;

// A registry file of the test's own, removed at the end of the test.
class TTempRegistry {
 public:
  explicit TTempRegistry(const std::string& text) {
    std::string name = (std::filesystem::temp_directory_path() / "quenby-mime-XXXXXX").string();
    const int fd = mkstemp(name.data());
    if (fd < 0)
      throw std::runtime_error("cannot create " + name);
    close(fd);
    path_ = name;
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~TTempRegistry() { std::filesystem::remove(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::string TypeOf(const std::vector<std::string>& lines, const std::string& extension) {
  for (const std::string& line : lines) {
    if (line.substr(0, line.find('=')) == extension)
      return line.substr(line.find('=') + 1);
  }
  return "";
}

TEST(MimeTable, BuiltinTableAnswersTheTellingRows) {
  TMimeTable table(true, "");
  const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
      {"text/html", {"a.htm", "a.html", "INDEX.HTM", "/site/Sub.Dir/Page.Html"}},
      {"text/plain", {"notes.txt"}},
      {"text/css", {"site.css"}},
      {"image/gif", {"a.gif"}},
      {"image/jpeg", {"a.jpg", "a.jpeg", "a.jpe"}},
      {"image/x-png", {"a.png"}},
      {"midi/mid", {"a.mid"}},
      {"server-parsed-html", {"a.shtml"}},
      {"image/xbm", {"a.xbm"}},
      {"text/sgml", {"a.sgml"}},
      {"audio/x-aiff", {"a.aiff"}},
      {"application/x-gzip", {"archive.tar.gz"}},
      {"audio/x-vnd.audioexplosion.mjuicemediafile", {"a.mjf"}},
      {"application/octet-stream",
       {"a.js", "a.exe", "a.dll", "README", "a.", "", "/site/a.b/x", "c:\\a.b\\x", "c:a.b:x"}},
  };
  for (const auto& [type, files] : rows) {
    for (const std::string& file : files)
      EXPECT_EQ(table.TypeForFile(file), type) << file;
  }
}

TEST(MimeTable, FillsTheBuiltinLinesInOrderOnlyIntoAnEmptyList) {
  TMimeTable table(false, "");
  std::vector<std::string> lines;
  table.FillDefaultTypes(lines);
  ASSERT_EQ(lines.size(), BuiltinMimeTypeLineCount);
  EXPECT_EQ(lines.front(), ".aiff=audio/x-aiff");
  EXPECT_EQ(lines[30], ".xbm=image/xbm");
  EXPECT_EQ(lines[37], ".xbm=image/x-xbitmap");
  EXPECT_EQ(lines.back(), ".sgml=text/sgml");

  std::vector<std::string> taken = {"keep"};
  table.FillDefaultTypes(taken);
  EXPECT_EQ(taken, std::vector<std::string>{"keep"});
}

TEST(MimeTable, FilledListsAreParallelLowerCaseAndFreeOfRepeats) {
  TMimeTable table(true, "");
  const std::vector<std::string> extensions = table.Extensions();
  const std::vector<std::string> types = table.Types();
  // 136 lines, two of them repeat an extension.
  ASSERT_EQ(extensions.size(), BuiltinMimeTypeLineCount - 2);
  ASSERT_EQ(types.size(), extensions.size());
  EXPECT_EQ(std::set<std::string>(extensions.begin(), extensions.end()).size(), extensions.size());
  for (std::size_t i = 0; i < extensions.size(); ++i) {
    EXPECT_EQ(extensions[i].front(), '.');
    EXPECT_EQ(extensions[i], LowerCase(extensions[i]));
    EXPECT_EQ(types[i], LowerCase(types[i]));
    EXPECT_FALSE(types[i].empty());
  }
}

TEST(MimeTable, AddTypeNormalisesAndRefusesWithItsMessages) {
  TMimeTable table(true, "");
  table.AddType("JS", "Text/JavaScript");
  EXPECT_EQ(table.TypeForFile("app.js"), "text/javascript");
  EXPECT_EQ(table.Extensions().back(), ".js");

  const std::size_t size = table.Extensions().size();
  const std::pair<std::pair<const char*, const char*>, const char*> failures[] = {
      {{"", "text/plain"}, "Extension is empty"},
      {{"txt2", ""}, "Mimetype is empty"},
      {{"htm", "text/plain"}, "Extension already exits"},
      {{".HTM", "text/plain"}, "Extension already exits"},
  };
  // No structured binding here: clang 14 cannot capture one in a lambda.
  for (const auto& failure : failures) {
    const auto& arguments = failure.first;
    EXPECT_THAT([&] { table.AddType(arguments.first, arguments.second); },
                Throws<EMIMETypeError>(
                    AllOf(Property(&EMIMETypeError::Message, failure.second),
                          Property(&EMIMETypeError::ClassName, StrEq("EMIMETypeError")))));
  }
  EXPECT_EQ(table.Extensions().size(), size);
  EXPECT_EQ(table.Types().size(), size);
  EXPECT_EQ(table.TypeForFile("a.htm"), "text/html");
}

TEST(MimeTable, LoadFromLinesReplacesTheTableAndKeepsTheFirstLineOfAnExtension) {
  TMimeTable table(true, "");
  table.LoadFromLines({".A=Type/One", "no separator", "=x/y", "a=type/two", "B:x/z", ".c=x/c"},
                      '=');
  EXPECT_EQ(table.Extensions(), (std::vector<std::string>{".a", ".c"}));
  EXPECT_EQ(table.Types(), (std::vector<std::string>{"type/one", "x/c"}));
  EXPECT_EQ(table.TypeForFile("x.htm"), "application/octet-stream");

  table.LoadFromLines({"b:x/z"}, ':');
  EXPECT_EQ(table.TypeForFile("f.B"), "x/z");
}

TEST(MimeTable, LoadFromLinesStopsAtAnEmptyTypeKeepingWhatItRead) {
  TMimeTable table(false, "");
  EXPECT_THAT(
      [&] {
        table.LoadFromLines({".a=x/a", ".b=", ".c=x/c"}, '=');
      },
      ThrowsMessage<EMIMETypeError>("Mimetype is empty"));
  EXPECT_EQ(table.Extensions(), std::vector<std::string>{".a"});
  EXPECT_EQ(table.TypeForFile("x.c"), "application/octet-stream");
}

TEST(MimeTable, RegistryLinesOverrideAndExtendTheBuiltinLinesLaterLinesWinning) {
  TTempRegistry registry(
      "# host registry\n"
      "\n"
      "image/png\t\tpng\n"
      "Text/JavaScript js mjs # inline comment\r\n"
      "image/x-xbitmap xbm\n"
      "application/x-first dup\n"
      "application/x-second dup\n"
      "application/broken a=b\n"
      "   \n"
      "type/without-extensions\n"
      "# text/never never\n");
  TMimeTable table(true, registry.Path());
  EXPECT_EQ(table.RegistryPath(), registry.Path());
  EXPECT_EQ(table.TypeForFile("a.png"), "image/png");
  EXPECT_EQ(table.TypeForFile("a.js"), "text/javascript");
  EXPECT_EQ(table.TypeForFile("a.MJS"), "text/javascript");
  EXPECT_EQ(table.TypeForFile("a.xbm"), "image/x-xbitmap");
  EXPECT_EQ(table.TypeForFile("a.dup"), "application/x-second");
  EXPECT_EQ(table.TypeForFile("a.htm"), "text/html");
  EXPECT_EQ(table.TypeForFile("a.never"), "application/octet-stream");
  EXPECT_EQ(table.TypeForFile("a.comment"), "application/octet-stream");
  EXPECT_EQ(table.TypeForFile("a.a"), "application/octet-stream");
  EXPECT_EQ(table.TypeForFile("a.b"), "application/octet-stream");

  // Overrides stay in place; new extensions follow the built-in lines.
  std::vector<std::string> lines;
  table.FillDefaultTypes(lines);
  ASSERT_EQ(lines.size(), BuiltinMimeTypeLineCount + 3);
  EXPECT_EQ(lines[30], ".xbm=image/x-xbitmap");
  EXPECT_EQ(TypeOf(lines, ".png"), "image/png");
  EXPECT_EQ(lines[BuiltinMimeTypeLineCount], ".js=Text/JavaScript");
  EXPECT_EQ(lines.back(), ".dup=application/x-second");
}

TEST(MimeTable, WithoutARegistryFileTheCompiledInWebTypesStandIn) {
  const std::vector<std::string> without = TMimeTable(true, "/nonexistent/mime.types").Extensions();
  EXPECT_EQ(TMimeTable(true, std::filesystem::temp_directory_path().string()).Extensions(), without)
      << "a folder is never read as a registry";
  EXPECT_EQ(TMimeTable(true, "").Extensions().size(), BuiltinMimeTypeLineCount - 2)
      << "an empty path asks for the built-in lines alone";
  EXPECT_EQ(TMimeTable(false).RegistryPath(), "/etc/mime.types");

  TMimeTable table(true, "/nonexistent/mime.types");
  const std::vector<std::pair<std::string, std::string>> web = {
      {"a.js", "text/javascript"},
      {"a.mjs", "text/javascript"},
      {"a.css", "text/css"},
      {"a.json", "application/json"},
      {"a.js.map", "application/json"},
      {"a.svg", "image/svg+xml"},
      {"a.wasm", "application/wasm"},
      {"a.webp", "image/webp"},
      {"a.avif", "image/avif"},
      {"a.woff", "font/woff"},
      {"a.woff2", "font/woff2"},
      {"a.mp4", "video/mp4"},
      {"a.webm", "video/webm"},
      {"a.ogg", "audio/ogg"},
      {"a.mp3", "audio/mpeg"},
      {"a.png", "image/png"},
      {"a.ico", "image/vnd.microsoft.icon"},
      {"a.txt", "text/plain"},
      {"a.xml", "application/xml"},
      {"a.pdf", "application/pdf"},
      {"a.zip", "application/zip"},
      {"A.HTML", "text/html"},
  };
  for (const auto& [file, type] : web)
    EXPECT_EQ(table.TypeForFile(file), type) << file;
  EXPECT_EQ(table.TypeForFile("a.gif"), "image/gif") << "the built-in lines stay underneath";
}

TEST(MimeTable, AHostRegistryFileReplacesTheCompiledInTypes) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("quenby-mime-" + std::to_string(getpid()) + ".types"));
  {
    std::ofstream file(path);
    file << "image/x-own svg\n";
  }
  TMimeTable table(true, path);
  std::filesystem::remove(path);
  EXPECT_EQ(table.TypeForFile("a.svg"), "image/x-own");
  EXPECT_EQ(table.TypeForFile("a.wasm"), "application/octet-stream");
}

TEST(MimeTable, AnEmptyTableFillsOnAMissButAFilledOneNeverRefills) {
  TMimeTable empty(false, "");
  EXPECT_TRUE(empty.Extensions().empty());
  EXPECT_EQ(empty.TypeForFile("a.gif"), "image/gif");
  EXPECT_EQ(empty.Extensions().size(), BuiltinMimeTypeLineCount - 2);

  TMimeTable partial(false, "");
  partial.AddType(".foo", "x/foo");
  EXPECT_EQ(partial.TypeForFile("a.gif"), "application/octet-stream");
  partial.EnsureFilled();
  EXPECT_EQ(partial.Extensions(), std::vector<std::string>{".foo"});
}

TEST(MimeTable, ConcurrentLookupsOnAnEmptyTableFillItOnce) {
  constexpr int Threads = 8;
  constexpr int Rounds = 200;
  TMimeTable table(false, "");
  std::vector<int> wrong(Threads, 0);
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < Threads; ++t) {
      workers.emplace_back([&table, &wrong, t] {
        for (int i = 0; i < Rounds; ++i) {
          wrong[t] += table.TypeForFile("page.html") != "text/html";
          wrong[t] += table.TypeForFile("x.unknown") != "application/octet-stream";
          wrong[t] += table.TypeForFile("doc.sgml") != "text/sgml";
        }
      });
    }
  }
  EXPECT_EQ(wrong, std::vector<int>(Threads, 0));
  EXPECT_EQ(table.Extensions().size(), BuiltinMimeTypeLineCount - 2);
}

}  // namespace
}  // namespace quenby
