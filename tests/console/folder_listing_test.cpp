// Folder listings: which folder a path may list, the page, and the replies of a running
// console.
#include "console/folder_listing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "console/server_console.h"
#include "support/console_on_loopback.h"
#include "support/temp_dir.h"

namespace quenby {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

TEST(FolderListing, OnlyFoldersInsideTheRootOrAnAliasAreListed) {
  test::TempDir dir;
  dir.Write("site/sub/a.txt", "a");
  dir.Write("mods/m.dll", "m");
  const std::string root = dir.FilePath("site");
  const std::vector<std::string> aliases = {"/bin=" + dir.FilePath("mods"), "/gone=/nonexistent"};

  const auto top = ResolveFolderPath(root, "/", aliases);
  ASSERT_TRUE(top);
  EXPECT_EQ(top->Path, root);
  EXPECT_TRUE(top->IsTop);
  const auto sub = ResolveFolderPath(root, "/x/../sub/", aliases);
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->Path, root + "/sub");
  EXPECT_FALSE(sub->IsTop || sub->IsAlias);
  const auto alias = ResolveFolderPath(root, "/bin/", aliases);
  ASSERT_TRUE(alias);
  EXPECT_EQ(alias->Path, dir.FilePath("mods"));
  EXPECT_TRUE(alias->IsTop && alias->IsAlias);

  for (const char* refused :
       {"/../", "/sub/../../", "/sub", "/missing/", "/gone/", "/sub/a.txt/", "/\\..\\"}) {
    EXPECT_FALSE(ResolveFolderPath(root, refused, aliases)) << refused;
  }
  EXPECT_FALSE(ResolveFolderPath(root, std::string("/sub\0/", 6), aliases));
}

TEST(FolderListing, ThePageEscapesNamesAndListsFoldersFirstWithoutHiddenOnes) {
  test::TempDir dir;
  dir.Write("f/zeta.txt", "12345");
  dir.Write("f/<b>&\"it's x.txt", "");
  dir.Write("f/.hidden", "secret");
  dir.Write("f/Alpha/inner.txt", "");
  std::filesystem::create_symlink("/nonexistent", dir.FilePath("f/dangling"));
  const TListedFolder folder{dir.FilePath("f"), false, false};
  const std::vector<TListingEntry> entries = ListingEntries(folder);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Name, "Alpha");
  EXPECT_TRUE(entries[0].IsFolder);
  EXPECT_EQ(entries[1].Name, "<b>&\"it's x.txt");
  EXPECT_EQ(entries[2].Name, "zeta.txt");
  EXPECT_EQ(entries[2].Size, 5);

  const std::string page = FolderListingPage("/f/<i>/", folder, entries);
  EXPECT_THAT(page, HasSubstr("<title>Index of /f/&lt;i&gt;/</title>"));
  EXPECT_THAT(page, HasSubstr("<a href=\"../\">../</a>"));
  EXPECT_THAT(page, HasSubstr("<a href=\"Alpha/\">Alpha/</a>"));
  EXPECT_THAT(page, HasSubstr("<a href=\"%3Cb%3E%26%22it%27s%20x.txt\">"
                              "&lt;b&gt;&amp;&quot;it&#39;s x.txt</a>"));
  EXPECT_THAT(page, HasSubstr("<td class=\"size\">5</td>"));
  EXPECT_LT(page.find("Alpha/"), page.find("zeta.txt"));
  EXPECT_THAT(page, Not(HasSubstr("hidden")));

  EXPECT_THAT(FolderListingPage("/", {dir.FilePath("f"), true, false}, entries),
              Not(HasSubstr("../")))
      << "no way up from the root";
  const TListedFolder alias{dir.FilePath("f"), true, true};
  EXPECT_EQ(ListingEntries(alias).size(), 2u) << "no subfolder is reachable through an alias";
}

// A running console on loopback over a root with a folder that has no index document.
class FolderListingConsoleTest : public ::testing::Test, protected test::TConsoleOnLoopback {
 protected:
  FolderListingConsoleTest() : TConsoleOnLoopback("site") {
    Dir.Write("site/index.htm", "home");
    Dir.Write("site/docs/a b.txt", "text");
  }
};

TEST_F(FolderListingConsoleTest, AFolderWithoutItsIndexIsListedOnlyWithTheOption) {
  Console.btnStartClick();
  const std::string before = Exchange("GET /docs/ HTTP/1.0\r\n\r\n");
  EXPECT_THAT(before, StartsWith("HTTP/1.1 404"));
  Console.btnStopClick();

  Console.Features.ListFolders = true;
  Console.btnStartClick();
  const std::string listing = Exchange("GET /docs/ HTTP/1.0\r\n\r\n");
  EXPECT_THAT(listing, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(listing, HasSubstr("Content-Type: text/html; charset=utf-8\r\n"));
  EXPECT_THAT(listing, HasSubstr("<a href=\"a%20b.txt\">a b.txt</a>"));
  EXPECT_THAT(listing, EndsWith("</html>\n"));
  const std::string head = Exchange("HEAD /docs/ HTTP/1.0\r\n\r\n");
  EXPECT_THAT(head, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(head, EndsWith("\r\n\r\n")) << "no body after HEAD";
  const std::string length =
      "Content-Length: " + std::to_string(listing.size() - listing.find("\r\n\r\n") - 4) + "\r\n";
  EXPECT_THAT(head, HasSubstr(length));
  EXPECT_THAT(Exchange("GET / HTTP/1.0\r\n\r\n"), EndsWith("\r\n\r\nhome"))
      << "an index document is served as before";
  EXPECT_THAT(Exchange("GET /nothing/ HTTP/1.0\r\n\r\n"), StartsWith("HTTP/1.1 404"));
  EXPECT_THAT(Exchange("GET /docs/../../ HTTP/1.0\r\n\r\n"), StartsWith("HTTP/1.1 404"));
  Console.btnStopClick();
  EXPECT_THAT(Dir.Read("quenby.log"), HasSubstr("Listing folder " + Dir.FilePath("site/docs")));
}

}  // namespace
}  // namespace quenby
