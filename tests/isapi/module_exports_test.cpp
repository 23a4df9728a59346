// Every built module loads, and exports exactly the entry points its role needs.
#include <gtest/gtest.h>

#include "isapi/fake_host.h"

namespace quenby::test {
namespace {

struct ExpectedExports {
  const char* module;
  bool version;
  bool proc;
  bool terminate;
};

constexpr ExpectedExports Modules[] = {
    {"hello", true, true, true},     {"echo", true, true, false},
    {"pending", true, true, true},   {"transmit", true, true, false},
    {"refuse", true, true, false},   {"noentry", false, false, false},
    {"noproc", true, false, false},  {"crash", true, true, false},
    {"rawreply", true, true, false}, {"redirect", true, true, false},
    {"headers", true, true, false},  {"probe", true, true, false},
    {"hostile", true, true, false},
};

TEST(ModuleExports, EachModuleExportsItsEntryPoints) {
  for (const ExpectedExports& expected : Modules) {
    SCOPED_TRACE(expected.module);
    TestModule module(expected.module);
    ASSERT_TRUE(module.Loaded());
    EXPECT_EQ(module.Symbol("GetExtensionVersion") != nullptr, expected.version);
    EXPECT_EQ(module.Symbol("HttpExtensionProc") != nullptr, expected.proc);
    EXPECT_EQ(module.Symbol("TerminateExtension") != nullptr, expected.terminate);
  }
}

TEST(ModuleExports, HelpersStayHiddenAndOtherExportsAreKept) {
  TestModule probe("probe");
  EXPECT_EQ(probe.Symbol("query_value"), nullptr);
  EXPECT_EQ(probe.Symbol("ask_variable"), nullptr);
  TestModule noentry("noentry");
  auto other = reinterpret_cast<int (*)()>(noentry.Symbol("NotAnExtension"));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other(), 42);
}

TEST(ModuleExports, VersionCallFillsTheVersionOrRefuses) {
  HSE_VERSION_INFO info{};
  TestModule hello("hello");
  EXPECT_EQ(hello.Version(info), TRUE);
  EXPECT_EQ(info.dwExtensionVersion, static_cast<DWORD>(HSE_VERSION));
  EXPECT_STREQ(info.lpszExtensionDesc, "Quenby hello module");
  TestModule refuse("refuse");
  EXPECT_EQ(refuse.Version(info), FALSE);
}

}  // namespace
}  // namespace quenby::test
