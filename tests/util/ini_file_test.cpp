#include "util/ini_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace quenby {
namespace {

using test::TempDir;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Property;
using ::testing::Throws;

TEST(IniFile, MissingFileReadsEmptyAndAChangeCreatesIt) {
  TempDir dir;
  TIniFile ini(dir.FilePath("quenby.ini"));
  EXPECT_THAT(ini.ReadSections(), IsEmpty());
  EXPECT_EQ(ini.ReadString("Setup", "Port"), "");
  ini.EraseSection("Setup");  // nothing to change: no file is made
  EXPECT_THAT(dir.Names(), IsEmpty());
  ini.WriteString("Setup", "Port", "80");
  EXPECT_EQ(dir.Read("quenby.ini"), "[Setup]\nPort=80\n");
  EXPECT_THAT(TIniFile(dir.FilePath("no/such/folder.ini")).ReadSections(), IsEmpty());
}

TEST(IniFile, RewriteReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string name = dir.Write("quenby.ini", "[Setup]\nPort=80\n");
  ASSERT_EQ(::chmod(name.c_str(), 0640), 0);
  std::ifstream before(name, std::ios::binary);  // still reads the old file after a rename
  TIniFile ini(name);
  ini.Update([](TIniDocument& document) {
    document.EraseSection("Setup");
    document.WriteString("Setup", "Port", "81");
    document.WriteString("Setup", "Host", "h");
  });
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(before), {}), "[Setup]\nPort=80\n");
  EXPECT_EQ(dir.Read("quenby.ini"), "[Setup]\nPort=81\nHost=h\n");
  EXPECT_THAT(dir.Names(), ElementsAre("quenby.ini"));
  struct stat info {};
  ASSERT_EQ(::stat(name.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(IniFile, AFailedChangeLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string text = "[Setup]\nPort=80\n";
  const std::string name = dir.Write("quenby.ini", text);
  TIniFile ini(name);
  EXPECT_THROW(ini.Update([](TIniDocument& document) {
    document.EraseSection("Setup");
    document.WriteString("Setup", "Port", "8\n0");
  }),
               EIniFileError);
  EXPECT_EQ(dir.Read("quenby.ini"), text);
  EXPECT_THAT(dir.Names(), ElementsAre("quenby.ini"));
}

TEST(IniFile, UnwritableFileRaisesUnableToWriteWithTheOsError) {
  TempDir dir;
  struct Case {
    std::string name;
    int error;
  };
  dir.Write("plain", "");
  ::mkdir(dir.FilePath("folder.ini").c_str(), 0755);
  for (const Case& c : {Case{dir.FilePath("missing/quenby.ini"), ENOENT},
                        Case{dir.FilePath("plain/quenby.ini"), ENOTDIR},
                        Case{dir.FilePath("folder.ini"), EISDIR}}) {
    EXPECT_THAT(
        [&] { TIniFile(c.name).WriteString("Setup", "Port", "80"); },
        Throws<EInOutError>(AllOf(Property(&EInOutError::Message, "Unable to write to " + c.name),
                                  Property(&EInOutError::ErrorCode, c.error))));
  }
  EXPECT_THAT(dir.Names(), ElementsAre("folder.ini", "plain"));
  EXPECT_THROW(TIniFile(dir.FilePath("folder.ini")).ReadSections(), EInOutError);
}

TEST(IniFile, ASymbolicLinkStaysALinkToTheRewrittenFile) {
  TempDir dir;
  const std::string target = dir.Write("real.ini", "[Setup]\nPort=80\n");
  const std::string link = dir.FilePath("quenby.ini");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  TIniFile(link).WriteString("Setup", "Port", "81");
  struct stat info {};
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(dir.Read("real.ini"), "[Setup]\nPort=81\n");
}

}  // namespace
}  // namespace quenby
