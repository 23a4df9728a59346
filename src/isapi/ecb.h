#pragma once

#include <quenby/isapi.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace quenby {

class TCustomHTTPServer;
class THTTPRequestInfo;
class THTTPResponseInfo;
class TISAPIRunner;
class TPeerThread;

/// The per-request control block: the published EXTENSION_CONTROL_BLOCK handed to the
/// module, then what the callbacks need to find the request again. Made by RunExtension
/// for one run and discarded at its end. While it is registered (between Register and
/// Unregister) its ConnID leads the callbacks to it; a ConnID kept by a module after that
/// leads nowhere.
class TECB {
 public:
  static constexpr DWORD ExtensionVersion = HSE_VERSION;  // 2.0
  static constexpr const char* DefaultLogData = "DEFAULT LOG DATA";
  /// How often a pending run looks whether its client is still there, in ms.
  static constexpr int PendingCheckStep = 100;

  /// Sets the fixed fields and the callbacks; the request fields are empty until Fill.
  TECB();
  ~TECB();
  TECB(const TECB&) = delete;
  TECB& operator=(const TECB&) = delete;

  /// Fills the request-dependent fields from the request and the run's arguments. The
  /// block keeps copies of the texts and of the posted body; the records must outlive it.
  void Fill(TISAPIRunner* runner, TPeerThread* thread, THTTPRequestInfo* request,
            THTTPResponseInfo* response, const std::string& directory,
            const std::string& path_info);

  /// What the module receives.
  EXTENSION_CONTROL_BLOCK* Block() { return &ecb_; }

  /// Makes ConnID lead to this block (a fresh number that is never reused).
  void Register();
  /// Makes ConnID lead nowhere, then (unless told not to, after a fault) waits until no
  /// callback is using the block any more.
  void Unregister(bool wait_for_callbacks = true);

  /// Signals DoneEvent (auto-reset: one wait consumes it).
  void SignalDone();
  /// Waits for DoneEvent and resets it. Every PendingCheckStep ms it asks `abandoned`
  /// whether the reply can still reach the client, and returns false without the event as
  /// soon as it cannot.
  bool WaitDone(const std::function<bool()>& abandoned);

  /// True once a header block or redirect has been written to the client, or a file was
  /// sent: anything the engine would add now would corrupt the reply.
  bool ClientWritten() const { return header_written_ || file_sent_; }

  /// The callbacks record what reached the client; for one request they never run at the
  /// same time. A header block is written once per run, whatever the outcome of the try.
  bool HeaderWritten() const { return header_written_; }
  void MarkHeaderWritten() { header_written_ = true; }
  void MarkFileSent() { file_sent_ = true; }

  /// The status the module left in dwHttpStatusCode; 0 when it set none.
  DWORD ModuleStatusCode() const { return ecb_.dwHttpStatusCode; }
  /// The text at lpszPathTranslated, as the module sees it; empty before Fill.
  std::string PathTranslated() const {
    return ecb_.lpszPathTranslated != nullptr ? ecb_.lpszPathTranslated : "";
  }

  TISAPIRunner* Runner = nullptr;
  std::string BaseDirectory;
  std::string ServerAdmin;
  TPeerThread* PeerThread = nullptr;
  THTTPRequestInfo* RequestInfo = nullptr;
  THTTPResponseInfo* ResponseInfo = nullptr;
  TCustomHTTPServer* Server = nullptr;
  /// "[module #run]": what the trace lines of this run begin with.
  std::string TraceTag;

 private:
  friend class TECBAccess;

  EXTENSION_CONTROL_BLOCK ecb_{};  // what Block() hands to the module
  bool header_written_ = false;
  bool file_sent_ = false;
  std::string method_;
  std::string query_;
  std::string path_info_;
  std::string path_translated_;
  std::string content_type_;
  std::unique_ptr<BYTE[]> body_;

  std::mutex state_mutex_;
  std::condition_variable state_changed_;
  bool done_ = false;
  int active_calls_ = 0;
  std::uintptr_t id_ = 0;
};

/// A callback's hold on the block its ConnID names: keeps the block from being
/// discarded until the callback returns. Empty when the ConnID names no live block.
class TECBAccess {
 public:
  explicit TECBAccess(HCONN conn_id);
  ~TECBAccess();
  TECBAccess(const TECBAccess&) = delete;
  TECBAccess& operator=(const TECBAccess&) = delete;

  explicit operator bool() const { return block_ != nullptr; }
  TECB* operator->() const { return block_; }
  TECB& operator*() const { return *block_; }

 private:
  TECB* block_ = nullptr;
};

/// The canonical absolute form of `directory` joined to `path` with one delimiter:
/// "." and ".." resolved, doubled delimiters collapsed, a trailing "/" kept. Nothing is looked
/// up on disk. Empty when a relative path meets an unreadable working directory.
std::string CanonicalJoin(const std::string& directory, const std::string& path);

}  // namespace quenby
