#include "console/routing.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace quenby {
namespace {

namespace fs = std::filesystem;

// A temporary folder tree of the test's own, removed at the end of the test.
class TTempTree {
 public:
  TTempTree() {
    std::string name = (fs::temp_directory_path() / "quenby-routing-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr)
      throw std::runtime_error("cannot create " + name);
    path_ = name;
  }
  ~TTempTree() {
    std::error_code error;
    fs::remove_all(path_, error);
  }
  // Absolute path of a name inside the tree.
  std::string At(const std::string& relative) const { return path_ + "/" + relative; }
  // Creates a file (and its folders) inside the tree; returns its absolute path.
  std::string File(const std::string& relative) const {
    const std::string path = At(relative);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << relative;
    return path;
  }
  std::string Folder(const std::string& relative) const {
    fs::create_directories(At(relative));
    return At(relative);
  }

 private:
  std::string path_;
};

class Routing : public ::testing::Test {
 protected:
  Routing() : root_(tree_.Folder("root")), pics_(tree_.Folder("Pics")) {
    tree_.File("root/default.htm");
    tree_.File("root/index.html");
    tree_.File("root/docs/default.htm");
    tree_.File("root/Mixed/Page.HTM");
    tree_.File("secret.txt");
    tree_.File("Pics/secret.txt");
  }

  TRouteResult Route(const std::string& path, const std::vector<std::string>& aliases = {},
                     const std::string& index = "default.htm") const {
    return RouteRequest(path, root_, index, aliases);
  }

  TTempTree tree_;
  const std::string root_;
  const std::string pics_;
};

TEST_F(Routing, PathsEndingInSlashGetTheIndexDocument) {
  TRouteResult route = Route("/");
  EXPECT_EQ(route.FilePath, root_ + "/default.htm");
  EXPECT_EQ(route.Directory, root_ + "/");
  EXPECT_EQ(route.ModulePath, "");
  EXPECT_EQ(route.PathInfo, "");

  EXPECT_EQ(Route("/", {}, "").FilePath, root_ + "/index.html");
  route = Route("/docs/");
  EXPECT_EQ(route.FilePath, root_ + "/docs/default.htm");
  EXPECT_EQ(route.Directory, root_ + "/docs/");
  // A root written with its trailing "/" maps the same.
  EXPECT_EQ(RouteRequest("/docs/", root_ + "/", "default.htm", {}).FilePath,
            root_ + "/docs/default.htm");
}

TEST_F(Routing, FilesUnderTheRootKeepTheirCaseAndSeparatorsAreNormalised) {
  EXPECT_EQ(Route("/Mixed/Page.HTM").FilePath, root_ + "/Mixed/Page.HTM");
  EXPECT_EQ(Route("/mixed/page.htm").FilePath, "");
  for (const char* path : {"/docs\\default.htm", "//docs//default.htm", "/docs/./default.htm",
                           "/Mixed/../docs/default.htm", "docs/default.htm"}) {
    EXPECT_EQ(Route(path).FilePath, root_ + "/docs/default.htm") << path;
  }
  EXPECT_EQ(RouteRequest("/default.htm", root_ + "/../root/.", "", {}).FilePath,
            root_ + "/default.htm");
}

TEST_F(Routing, UnknownPathsAndFoldersMapToNothing) {
  for (const char* path : {"/missing.htm", "/docs", "/docs\\"}) {
    const TRouteResult route = Route(path, {"/photos=" + pics_});
    EXPECT_EQ(route.FilePath, "") << path;
    EXPECT_EQ(route.Directory, "") << path;
    EXPECT_EQ(route.ModulePath, "") << path;
    EXPECT_EQ(route.PathInfo, "") << path;
  }
}

TEST_F(Routing, AliasTakesTheFileNameIntoItsDirectory) {
  TRouteResult route = Route("/photos/2004/a.jpg", {"/photos=" + pics_});
  EXPECT_EQ(route.FilePath, pics_ + "/a.jpg");
  EXPECT_EQ(route.Directory, pics_ + "/");
  EXPECT_EQ(route.ModulePath, "");

  // The name is found in the lower-cased path; the file name keeps its case, the directory
  // its written form; a trailing "/" is not doubled.
  EXPECT_EQ(Route("/PHOTOS/B.JPG", {"/photos=" + pics_ + "/"}).FilePath, pics_ + "/B.JPG");
  EXPECT_EQ(Route("/photos/", {"/photos=" + pics_}).FilePath, pics_ + "/default.htm");
  // The name may stand anywhere in the mapped path.
  EXPECT_EQ(Route("/x/photos/y/c.jpg", {"/photos=" + pics_}).FilePath, pics_ + "/c.jpg");
}

TEST_F(Routing, AliasLinesAreTriedInOrderAndOnlyLowerCaseNamesMatch) {
  const std::vector<std::string> lines = {"no separator",     "/=" + tree_.At("empty-name"),
                                          "/photos=",         "/Photos=" + tree_.At("upper"),
                                          "/photos=" + pics_, "/photos=" + tree_.At("second")};
  EXPECT_EQ(Route("/photos/a.jpg", lines).FilePath, pics_ + "/a.jpg");
  EXPECT_EQ(Route("/Photos/a.jpg", {"/Photos=" + pics_}).FilePath, "");
  // The first character is skipped whatever it is.
  EXPECT_EQ(Route("/pics/a.jpg", {"xpics=" + pics_}).FilePath, pics_ + "/a.jpg");
}

TEST_F(Routing, ExistingFileUnderTheRootWinsOverAnAlias) {
  const std::string file = tree_.File("root/photos/a.jpg");
  EXPECT_EQ(Route("/photos/a.jpg", {"/photos=" + pics_}).FilePath, file);
}

// The handler trusts the mark and looks no further: it is set only when the file was seen.
TEST_F(Routing, OnlyAFileFoundUnderTheRootIsMarkedRegular) {
  EXPECT_TRUE(Route("/docs/").RegularFile);
  tree_.File("root/photos/a.jpg");
  EXPECT_TRUE(Route("/photos/a.jpg", {"/photos=" + pics_}).RegularFile) << "the root wins";
  EXPECT_FALSE(Route("/photos/secret.txt", {"/photos=" + pics_}).RegularFile)
      << "an alias maps a name without looking at it";
  EXPECT_FALSE(Route("/docs").RegularFile) << "a folder";
  EXPECT_FALSE(Route("/missing.htm").RegularFile);
}

TEST_F(Routing, ModulePathIsCutFromTheMappedPathKeepingItsCase) {
  const std::string modules = tree_.Folder("WebSite/Dlls");
  TRouteResult route = Route("/bin/App.DLL", {"/bin=" + modules});
  EXPECT_EQ(route.FilePath, modules + "/App.DLL");
  EXPECT_EQ(route.ModulePath, modules + "/App.DLL");
  EXPECT_EQ(route.PathInfo, "");
  EXPECT_EQ(route.Directory, modules + "/");

  const std::string module = tree_.File("root/cgi/Tool.Dll");
  route = Route("/cgi/Tool.Dll");
  EXPECT_EQ(route.ModulePath, module);
  EXPECT_EQ(route.Directory, root_ + "/cgi/");
}

TEST_F(Routing, PathInfoIsTheMappedPathAfterTheModuleName) {
  tree_.File("root/Cgi.DLL/Run/Now");
  TRouteResult route = Route("/Cgi.DLL/Run/Now");
  EXPECT_EQ(route.FilePath, root_ + "/Cgi.DLL/Run/Now");
  EXPECT_EQ(route.ModulePath, root_ + "/Cgi.DLL");
  EXPECT_EQ(route.PathInfo, "/Run/Now");
  EXPECT_EQ(route.Directory, root_ + "/Cgi.DLL/Run/");

  // ".dll" is looked for before ".asp".
  tree_.File("root/a.asp.dll");
  EXPECT_EQ(Route("/a.asp.dll").ModulePath, root_ + "/a.asp.dll");
}

TEST_F(Routing, ServerSideIncludePagesGoToTheFixedModule) {
  tree_.File("root/Page.ASP");
  tree_.File("root/Page.aspx");
  TRouteResult route = Route("/Page.ASP");
  EXPECT_EQ(route.FilePath, root_ + "/Page.ASP");
  EXPECT_EQ(route.ModulePath, "c:\\windows\\system32\\inetsrv\\ssinc.dll");
  EXPECT_EQ(route.PathInfo, "");
  route = Route("/Page.aspx");
  EXPECT_EQ(route.ModulePath, "c:\\windows\\system32\\inetsrv\\ssinc.dll");
  EXPECT_EQ(route.PathInfo, "x");
}

TEST_F(Routing, PathsClimbingAboveTheRootAreNeverMapped) {
  const std::vector<std::string> aliases = {"/photos=" + pics_, "/root=" + pics_};
  for (const char* path :
       {"/../secret.txt", "/a/../../secret.txt", "\\..\\secret.txt", "//..//secret.txt",
        "/./../secret.txt", "/docs/../../secret.txt", "/..", "/../root/default.htm",
        "/photos/../../secret.txt", "/photos/..\\..\\Pics/secret.txt", "../", "/..\\"}) {
    const TRouteResult route = Route(path, aliases);
    EXPECT_EQ(route.FilePath, "") << path;
    EXPECT_EQ(route.ModulePath, "") << path;
  }
  // The same with the index document climbing out.
  EXPECT_EQ(Route("/", {}, "../secret.txt").FilePath, "");
  EXPECT_EQ(ResolveDocumentPath("/", "/../etc/passwd", {}), "");
}

TEST_F(Routing, AnAliasNeverReachesOutsideItsDirectory) {
  const std::vector<std::string> aliases = {"/photos=" + pics_};
  for (const char* path : {"/photos/x/../secret.txt", "/photos/x\\..\\y/z.jpg",
                           "/photos/a/b/../../c.jpg", "/photos//x//..//d.jpg"}) {
    const std::string mapped = Route(path, aliases).FilePath;
    ASSERT_FALSE(mapped.empty()) << path;
    EXPECT_EQ(fs::path(mapped).parent_path().string(), pics_) << path;
    EXPECT_EQ(mapped.find(".."), std::string::npos) << path;
  }
}

TEST_F(Routing, PathsWithANulByteAreNeverMapped) {
  using namespace std::string_literals;
  EXPECT_EQ(Route("/default.htm\0.dll"s).FilePath, "");
  EXPECT_EQ(Route("/photos/a.jpg\0"s, {"/photos=" + pics_}).FilePath, "");
}

}  // namespace
}  // namespace quenby
