// Reloading a module whose file was rebuilt: the new file replaces the old one by a rename,
// as linkers write their output, between requests of one running server.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "support/isapi_server.h"
#include "support/temp_dir.h"

namespace quenby::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* RawReplyBody = "raw reply module\n";
constexpr const char* EarlyBody = "pending: finished before PENDING\n";

std::string BuiltModule(const std::string& name) {
  return std::string(QUENBY_TEST_MODULE_DIR) + "/" + name + ".dll";
}

// A module file served from a temporary root as app.dll.
class ModuleReloadTest : public ::testing::Test {
 protected:
  ModuleReloadTest() : server_(dir_.Path()) {
    server_.Runner().OnModuleReload = [this](TISAPIRunner&, const std::string& path,
                                             TReloadState state) {
      std::lock_guard<std::mutex> guard(lock_);
      reloads_.emplace_back(path, state);
    };
  }

  std::string AppPath() const { return dir_.FilePath("app.dll"); }

  // Writes the new file beside the old one and renames it over it.
  void Rebuild(const std::string& source) {
    const std::string next = AppPath() + ".new";
    fs::copy_file(source, next, fs::copy_options::overwrite_existing);
    fs::rename(next, AppPath());
  }
  void RebuildBroken() {
    dir_.Write("app.dll.new", "not a shared object");
    fs::rename(AppPath() + ".new", AppPath());
  }

  std::vector<std::pair<std::string, TReloadState>> Reloads() {
    std::lock_guard<std::mutex> guard(lock_);
    return reloads_;
  }

  TempDir dir_;
  TISAPITestServer server_;
  std::mutex lock_;
  std::vector<std::pair<std::string, TReloadState>> reloads_;
};

TEST_F(ModuleReloadTest, ARebuiltModuleRunsItsNewCodeOnlyWithTheOption) {
  Rebuild(BuiltModule("pending"));
  server_.Start();
  EXPECT_EQ(BodyOf(server_.Get("/app.dll?early")), EarlyBody);
  Rebuild(BuiltModule("rawreply"));
  EXPECT_EQ(BodyOf(server_.Get("/app.dll?early")), EarlyBody) << "off: the cached copy serves";
  EXPECT_TRUE(Reloads().empty());

  server_.Stop();
  server_.Runner().UnloadAllModules();
  server_.Runner().ReloadModules = true;
  server_.Start();
  EXPECT_EQ(BodyOf(server_.Get("/app.dll")), RawReplyBody);
  Rebuild(BuiltModule("pending"));
  EXPECT_EQ(BodyOf(server_.Get("/app.dll?early")), EarlyBody);
  EXPECT_EQ(BodyOf(server_.Get("/app.dll?early")), EarlyBody);
  const auto reloads = Reloads();
  ASSERT_EQ(reloads.size(), 1u) << "one reload per change";
  EXPECT_EQ(reloads[0].first, AppPath());
  EXPECT_EQ(reloads[0].second, TReloadState::Reloading);
  EXPECT_EQ(server_.Runner().ModuleCount(), 1u);
}

TEST_F(ModuleReloadTest, ABrokenRebuildGets404UntilAFixedOneLoads) {
  server_.Runner().ReloadModules = true;
  Rebuild(BuiltModule("rawreply"));
  server_.Start();
  EXPECT_EQ(BodyOf(server_.Get("/app.dll")), RawReplyBody);
  RebuildBroken();
  const std::string not_found = "HTTP/1.1 404 <H1>" + AppPath() + " not found</H1>";
  EXPECT_EQ(StatusLineOf(server_.Get("/app.dll")), not_found);
  EXPECT_EQ(StatusLineOf(server_.Get("/app.dll")), not_found) << "each request tries again";
  fs::remove(AppPath());
  EXPECT_EQ(StatusLineOf(server_.Get("/app.dll")), not_found);
  Rebuild(BuiltModule("rawreply"));
  EXPECT_EQ(BodyOf(server_.Get("/app.dll")), RawReplyBody);
}

// The running call's own view of the old copy: functions of the image the server loaded.
// The test's reference is given back at once, so that the server's unload really unmaps it;
// the functions stay callable while the server's call keeps the image loaded.
struct TOldCopy {
  int (*held_count)() = nullptr;
  int (*release_held)() = nullptr;

  explicit TOldCopy(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
      return;
    held_count = reinterpret_cast<int (*)()>(dlsym(handle, "pending_held_count"));
    release_held = reinterpret_cast<int (*)()>(dlsym(handle, "pending_release_held"));
    dlclose(handle);
  }
  bool Usable() const { return held_count != nullptr && release_held != nullptr; }
};

// The old copy once a call waits inside it; not Usable when none arrives within 10 s.
TOldCopy WaitForCallInside(const std::string& path) {
  for (int i = 0; i < 2000; ++i) {
    TOldCopy old(path);
    if (old.Usable() && old.held_count() == 1)
      return old;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return TOldCopy("");
}

TEST_F(ModuleReloadTest, ACallInTheOldCopyFinishesThereAndTheNextRequestWaitsForIt) {
  server_.Runner().ReloadModules = true;
  Rebuild(BuiltModule("pending"));
  server_.Start();
  std::string inside_reply;
  std::thread inside([&] { inside_reply = server_.Get("/app.dll?inside"); });
  const TOldCopy old = WaitForCallInside(AppPath());
  ASSERT_TRUE(old.Usable());

  Rebuild(BuiltModule("rawreply"));
  std::string next_reply;
  std::thread next([&] { next_reply = server_.Get("/app.dll?early"); });
  old.release_held();
  inside.join();
  next.join();
  // The waiting call writes nothing and returns normally: no bytes (a fault would be a 500).
  EXPECT_EQ(inside_reply, "");
  EXPECT_EQ(BodyOf(next_reply), RawReplyBody);
  ASSERT_EQ(Reloads().size(), 1u);
  EXPECT_EQ(Reloads()[0].second, TReloadState::Reloading);
}

TEST_F(ModuleReloadTest, ACallThatDoesNotEndLetsTheOldCopyServeAndIsReportedOnce) {
  server_.Runner().ReloadModules = true;
  server_.Runner().ReloadWaitTime = 50;
  Rebuild(BuiltModule("pending"));
  server_.Start();
  std::thread inside([&] { server_.Get("/app.dll?inside"); });
  const TOldCopy old = WaitForCallInside(AppPath());
  ASSERT_TRUE(old.Usable());

  Rebuild(BuiltModule("rawreply"));
  EXPECT_EQ(BodyOf(server_.Get("/app.dll?early")), EarlyBody);
  EXPECT_EQ(BodyOf(server_.Get("/app.dll?early")), EarlyBody);
  old.release_held();
  inside.join();
  EXPECT_EQ(BodyOf(server_.Get("/app.dll?early")), RawReplyBody);
  const auto reloads = Reloads();
  ASSERT_EQ(reloads.size(), 2u);
  EXPECT_EQ(reloads[0].second, TReloadState::HeldBack);
  EXPECT_EQ(reloads[1].second, TReloadState::Reloading);
}

}  // namespace
}  // namespace quenby::test
