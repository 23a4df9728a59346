// End-to-end runs through a real THTTPServer on loopback: loading, the cache, the events
// and every failure road of RunExtension, with the sample modules loaded for real.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "support/isapi_server.h"
#include "support/net_loopback.h"
#include "support/temp_dir.h"

namespace quenby::test {
namespace {

class ISAPIRunnerTest : public ::testing::Test {
 protected:
  explicit ISAPIRunnerTest(std::string root = QUENBY_TEST_MODULE_DIR) : server_(std::move(root)) {
    server_.Runner().OnModuleLoad = [this](TISAPIRunner&, const std::string& name) {
      std::lock_guard<std::mutex> guard(lock_);
      loaded_.push_back(name);
    };
    server_.Runner().OnModuleUnload = [this](TISAPIRunner&, const std::string& name) {
      std::lock_guard<std::mutex> guard(lock_);
      unloaded_.push_back(name);
    };
  }

  std::vector<std::string> Loaded() {
    std::lock_guard<std::mutex> guard(lock_);
    return loaded_;
  }
  std::vector<std::string> Unloaded() {
    std::lock_guard<std::mutex> guard(lock_);
    return unloaded_;
  }

  TISAPITestServer server_;
  std::mutex lock_;
  std::vector<std::string> loaded_;
  std::vector<std::string> unloaded_;
};

// ---- The failure table, as the client sees it ----------------------------------------

TEST_F(ISAPIRunnerTest, MissingModuleGetsItsPathAsReasonPhraseAndNoBody) {
  std::atomic<int> not_found{0}, after{0};
  server_.Runner().OnModuleNotFound = [&](TISAPIRunner&, THTTPRequestInfo&, THTTPResponseInfo&) {
    ++not_found;
  };
  server_.Runner().AfterExecute = [&](TISAPIRunner&) { ++after; };
  server_.Start();
  const std::string reply = server_.Get("/missing.dll");
  EXPECT_EQ(StatusLineOf(reply),
            "HTTP/1.1 404 <H1>" + server_.Root() + "/missing.dll not found</H1>");
  EXPECT_EQ(BodyOf(reply), "");
  EXPECT_EQ(not_found, 1);
  EXPECT_EQ(after, 0);
  EXPECT_TRUE(Loaded().empty());
}

TEST_F(ISAPIRunnerTest, MissingEntryPointsGiveA500WhoseBodyIsTheMessage) {
  std::atomic<int> structure_errors{0};
  server_.Runner().OnISAPIStructureError = [&](TISAPIRunner&, THTTPRequestInfo&,
                                               THTTPResponseInfo&) { ++structure_errors; };
  server_.Start();
  const std::string neither = server_.Get("/noentry.dll");
  EXPECT_EQ(StatusLineOf(neither), "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(BodyOf(neither), "Internal server error. GetExtensionVersion procedure not assigned");
  const std::string no_proc = server_.Get("/noproc.dll");
  EXPECT_EQ(StatusLineOf(no_proc), "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(BodyOf(no_proc), "Internal server error. HttpExtensionProc procedure not assigned");
  EXPECT_EQ(structure_errors, 2);
}

TEST_F(ISAPIRunnerTest, RefusedVersionGivesA500WithoutBodyAndTheModuleStaysCached) {
  std::atomic<int> version_errors{0};
  server_.Runner().OnVersionInfoError = [&](TISAPIRunner&, THTTPRequestInfo&, THTTPResponseInfo&) {
    ++version_errors;
  };
  server_.Start();
  for (int i = 0; i < 2; ++i) {
    const std::string reply = server_.Get("/refuse.dll");
    EXPECT_EQ(StatusLineOf(reply), "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(BodyOf(reply), "");
  }
  EXPECT_EQ(version_errors, 2);  // asked on every run, not once per load
  EXPECT_EQ(Loaded().size(), 1u);
}

TEST_F(ISAPIRunnerTest, CrashingModuleGets500AndTheServerKeepsServing) {
  server_.Start();
  for (const char* fault : {"segv", "fpe", "bus"}) {
    SCOPED_TRACE(fault);
    const std::string reply = server_.Get(std::string("/crash.dll?") + fault);
    EXPECT_EQ(StatusLineOf(reply), "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(BodyOf(reply), "");  // the half-written output is dropped
    const std::string next = server_.Get("/crash.dll?none");
    EXPECT_EQ(next, "crash: no fault asked\n");
  }
  EXPECT_EQ(Loaded().size(), 1u);  // the crashed module stays loaded
}

// ---- Loading and the cache --------------------------------------------------------------

TEST_F(ISAPIRunnerTest, TwoSimultaneousFirstRequestsLoadTheModuleOnce) {
  // Both requests are held before the cache lookup until both have arrived.
  std::mutex lock;
  std::condition_variable arrived_cv;
  int arrived = 0;
  server_.Runner().BeforeExecute = [&](TISAPIRunner&) {
    std::unique_lock<std::mutex> guard(lock);
    ++arrived;
    arrived_cv.notify_all();
    arrived_cv.wait_for(guard, std::chrono::seconds(10), [&] { return arrived >= 2; });
  };
  server_.Start();
  std::string replies[2];
  std::thread first([&] { replies[0] = server_.Get("/rawreply.dll"); });
  std::thread second([&] { replies[1] = server_.Get("/rawreply.dll"); });
  first.join();
  second.join();
  EXPECT_EQ(arrived, 2);
  EXPECT_EQ(replies[0], replies[1]);
  EXPECT_EQ(BodyOf(replies[0]), "raw reply module\n");
  EXPECT_EQ(Loaded(), std::vector<std::string>{server_.Root() + "/rawreply.dll"});
}

TEST_F(ISAPIRunnerTest, UnloadAllModulesReleasesOldestFirstAndTheNextRequestLoadsAgain) {
  server_.Start();
  server_.Get("/rawreply.dll");
  server_.Get("/probe.dll?zero");
  server_.Stop();
  server_.Runner().UnloadAllModules();
  EXPECT_EQ(Unloaded(), (std::vector<std::string>{"rawreply.dll", "probe.dll"}));
  EXPECT_EQ(server_.Runner().ModuleCount(), 0u);
  EXPECT_FALSE(server_.Runner().UnloadModule("rawreply.dll"));  // not cached: event, false
  EXPECT_EQ(Unloaded().size(), 3u);
  server_.Start();
  EXPECT_EQ(BodyOf(server_.Get("/rawreply.dll")), "raw reply module\n");
  EXPECT_EQ(Loaded().size(), 3u);
}

TEST_F(ISAPIRunnerTest, PathsDifferingInCaseShareOneCacheEntry) {
  server_.Start();
  server_.Get("/rawreply.dll");
  // No file of this name exists on a case-sensitive file system: only the cache serves it.
  EXPECT_EQ(BodyOf(server_.Get("/RAWREPLY.DLL")), "raw reply module\n");
  EXPECT_EQ(Loaded().size(), 1u);
}

// The folder comes first, so that the server's root can name it.
struct TempRootHolder {
  TempDir dir_;
};

class ISAPIRunnerTempRootTest : protected TempRootHolder, public ISAPIRunnerTest {
 protected:
  ISAPIRunnerTempRootTest() : ISAPIRunnerTest(dir_.Path()) {}
};

TEST_F(ISAPIRunnerTempRootTest, ModulesOfOneFileNameInTwoFoldersShareOneCacheEntry) {
  namespace fs = std::filesystem;
  fs::create_directories(dir_.FilePath("a"));
  fs::copy_file(std::string(QUENBY_TEST_MODULE_DIR) + "/rawreply.dll", dir_.FilePath("a/app.dll"),
                fs::copy_options::overwrite_existing);
  dir_.Write("b/app.dll", "not a shared object");
  server_.Start();
  EXPECT_EQ(BodyOf(server_.Get("/a/app.dll")), "raw reply module\n");
  EXPECT_EQ(BodyOf(server_.Get("/b/app.dll")), "raw reply module\n");
  EXPECT_EQ(Loaded(), std::vector<std::string>{dir_.Path() + "/a/app.dll"});
}

TEST_F(ISAPIRunnerTempRootTest, AspDllInThePathSkipsTheVersionCallCaseSensitively) {
  namespace fs = std::filesystem;
  const std::string refuse = std::string(QUENBY_TEST_MODULE_DIR) + "/refuse.dll";
  fs::copy_file(refuse, dir_.FilePath("myasp.dll"), fs::copy_options::overwrite_existing);
  fs::copy_file(refuse, dir_.FilePath("MYASP.DLL"), fs::copy_options::overwrite_existing);
  server_.Start();
  EXPECT_EQ(BodyOf(server_.Get("/myasp.dll")), "refuse: HttpExtensionProc ran\n");
  server_.Runner().UnloadModule("myasp.dll");
  EXPECT_EQ(StatusLineOf(server_.Get("/MYASP.DLL")), "HTTP/1.1 500 Internal Server Error");
}

TEST_F(ISAPIRunnerTest, DropFlagRunsTheModuleWithoutKeepingIt) {
  server_.Server().OnCommandGet = [this](TPeerThread& thread, THTTPRequestInfo& request,
                                         THTTPResponseInfo& response) {
    server_.Runner().RunExtension(server_.Root() + "/rawreply.dll", &thread, &request, &response,
                                  server_.Root() + "/", true, "");
  };
  server_.Start();
  EXPECT_EQ(BodyOf(server_.Get("/x")), "raw reply module\n");
  EXPECT_EQ(server_.Runner().ModuleCount(), 0u);
  EXPECT_TRUE(Loaded().empty());
  EXPECT_EQ(Unloaded(), std::vector<std::string>{"rawreply.dll"});
}

TEST(ModuleCacheKeyTest, IsTheTextAfterTheLastDelimiter) {
  EXPECT_EQ(ModuleCacheKey("/srv/bin/app.dll"), "app.dll");
  EXPECT_EQ(ModuleCacheKey("C:\\site\\App.DLL"), "App.DLL");
  EXPECT_EQ(ModuleCacheKey("C:app.dll"), "app.dll");
  EXPECT_EQ(ModuleCacheKey("app.dll"), "app.dll");
}

TEST(ISAPIRunnerDirectTest, MissingThreadRequestOrResponseTouchesNothing) {
  TISAPIRunner runner;
  int events = 0;
  runner.BeforeExecute = [&](TISAPIRunner&) { ++events; };
  THTTPRequestInfo request;
  THTTPResponseInfo response(nullptr);
  runner.RunExtension(std::string(QUENBY_TEST_MODULE_DIR) + "/hello.dll", nullptr, &request,
                      &response, "/", false, "");
  EXPECT_EQ(events, 0);
  EXPECT_EQ(response.StatusCode(), 200);
  EXPECT_FALSE(response.HeaderSent);
  EXPECT_EQ(runner.ModuleCount(), 0u);
}

}  // namespace
}  // namespace quenby::test
