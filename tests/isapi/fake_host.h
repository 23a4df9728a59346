#pragma once

// A minimal stand-in for the extension host, so the sample and test modules can be run
// and checked without a server: one control block whose callbacks record what a module
// does, and an RAII loader for the built modules.
#include <quenby/isapi.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace quenby::test {

/// One request as a module sees it. Every callback locks the host, so a module may call
/// back from its own threads; read the recorded fields after `WaitDone` or after the
/// module returned. The host must outlive every use of its `Block()`.
class FakeHost {
 public:
  FakeHost(std::string method, std::string query, std::string posted = {});
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  EXTENSION_CONTROL_BLOCK* Block() { return &block_; }

  /// Waits (bounded) for HSE_REQ_DONE_WITH_SESSION; false on time-out.
  bool WaitDone();

  /// What GetServerVariable answers; absent names give FALSE, size 0.
  std::map<std::string, std::string> variables;
  /// Prefix that HSE_REQ_MAP_URL_TO_PATH(_EX) puts before the URL.
  std::string map_base = "/srv/site";
  /// When set, GetServerVariable writes the whole value whatever the buffer size, as a
  /// faulty host would: lets the probe's guard check be seen to work.
  bool overrun_variables = false;
  /// Bytes ReadClient hands out.
  std::string client_bytes;

  /// Everything the module sent, in order: "header <code> <status>|<block>",
  /// "write <bytes>", "file <bytes>", "redirect <url>", "log <text>", "trigger <text>",
  /// "close", "done".
  std::vector<std::string> events;
  /// The bytes of every WriteClient call, joined.
  std::string body;

 private:
  static FakeHost& From(HCONN connection);
  static BOOL GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size);
  static BOOL WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD reserved);
  static BOOL ReadClient(HCONN connection, LPVOID buffer, LPDWORD size);
  static BOOL ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD size,
                                    LPDWORD data_type);
  BOOL MapUrl(DWORD request, LPVOID buffer, LPDWORD size, LPDWORD data_type);
  BOOL TransmitFile(const HSE_TF_INFO& info);

  std::string method_;
  std::string query_;
  std::string posted_;
  EXTENSION_CONTROL_BLOCK block_{};
  std::mutex lock_;
  std::condition_variable done_changed_;
  bool done_ = false;
};

/// A built module from QUENBY_TEST_MODULE_DIR, loaded for the lifetime of this object.
class TestModule {
 public:
  explicit TestModule(const std::string& name);
  ~TestModule();
  TestModule(const TestModule&) = delete;
  TestModule& operator=(const TestModule&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  /// The exported symbol, or nullptr.
  void* Symbol(const char* name) const;
  /// Calls GetExtensionVersion; the module must export it.
  BOOL Version(HSE_VERSION_INFO& info) const;
  /// Calls GetExtensionVersion and then HttpExtensionProc with the host's block.
  DWORD Run(FakeHost& host) const;

 private:
  void* handle_ = nullptr;
};

/// Path of a built module file.
std::string ModulePath(const std::string& name);

}  // namespace quenby::test
