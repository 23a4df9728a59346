#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/quenby_process.h"
#include "support/temp_dir.h"

namespace quenby::test {

/// Bytes that must never reach a client: the secret file beside the root, /etc/passwd, and
/// the output of the module kept outside every alias folder.
inline constexpr const char* SecretText = "SECRET-7c1e-must-never-be-sent";
inline constexpr const char* PasswdMark = "root:x:0:0";
inline constexpr const char* OutsideModuleMark = "lpszMethod";

/// The normal page every case ends by fetching.
inline constexpr const char* NormalPath = "/a.txt";
inline constexpr const char* NormalBody = "hello";

/// A temporary site served by the real quenby binary, headless on 127.0.0.1 with logging on:
///
///   site/                the document root: a.txt, index.html, sub/page.txt, big.bin,
///                        a folder literally named "%2e%2e", and two links that point out of
///                        the root (linked.txt to a file, linked/ to a folder)
///   docs/                alias /docs (guide.txt)
///   bin/                 alias /bin (hello.dll, a harmless module)
///   secret.txt, evil.dll outside the root and the alias folders (evil.dll would print
///                        OutsideModuleMark if it were ever run)
///   outside/             the links' targets
class TAttackSite {
 public:
  /// Bytes of site/big.bin: larger than what the socket buffers of both ends hold, so a
  /// client that does not read blocks the server's send.
  static constexpr std::size_t BigFileSize = 32 << 20;

  TAttackSite();
  ~TAttackSite();
  TAttackSite(const TAttackSite&) = delete;
  TAttackSite& operator=(const TAttackSite&) = delete;

  int Port() const { return port_; }
  const TempDir& Dir() const { return dir_; }
  std::string Root() const { return dir_.FilePath("site"); }

  /// Fetches NormalPath on a new connection and checks the reply, naming `after` in the
  /// failure message.
  void ExpectServesNormalPage(const std::string& after) const;
  /// Stops the server with SIGTERM; fails the test unless it stops cleanly (exit code 0,
  /// every connection's thread freed within the stop wait).
  void ExpectCleanStop();
  /// The files the activity log says were sent ("Serving file PATH (...").
  std::vector<std::string> ServedFiles() const;

 private:
  TempDir dir_;
  std::unique_ptr<TQuenbyProcess> quenby_;
  int port_ = 0;
};

/// A request's fate as a raw client sees it.
struct TRawReply {
  std::string Bytes;    ///< everything received
  bool Closed = false;  ///< the server closed (or reset) the connection
};

/// Sends `request` on a new loopback connection, then reads until the server closes or
/// `timeout` passes. A send the server refuses half-way (it closed first) is not a failure.
TRawReply SendRaw(int port, const std::string& request,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));

/// The status line of a raw reply, without its line end; empty when none arrived.
std::string StatusLine(const std::string& reply);
/// What follows the first blank line; empty when none arrived. Named apart from the module
/// tests' BodyOf, which is in the same namespace and gives the whole reply then.
std::string ReplyBodyOf(const std::string& reply);

/// A raw client socket with the plain calls a hostile client makes. Failures of its own
/// calls are returned, never asserted: the server may close at any time.
class TRawClient {
 public:
  /// Connects to 127.0.0.1:`port`; Connected() tells whether that worked.
  explicit TRawClient(int port);
  ~TRawClient();
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  bool Connected() const { return fd_ >= 0; }
  /// Sends all of `bytes`; false when the connection refused them (closed or reset).
  bool Send(const std::string& bytes);
  /// Sends `chunk` over and over, `total` bytes at most, until the server stops taking them;
  /// returns the bytes it took. A send that waits 5 s counts as refused.
  std::size_t SendEndlessly(const std::string& chunk, std::size_t total);
  /// Reads up to `count` bytes, waiting up to `timeout`.
  std::string Receive(std::size_t count, std::chrono::milliseconds timeout);
  /// Reads until close or `timeout`; `closed` tells which came.
  std::string ReceiveUntilClose(std::chrono::milliseconds timeout, bool* closed);
  void ShutdownSend();
  /// Closes with a reset instead of an orderly close.
  void Reset();

 private:
  int fd_ = -1;
};

/// Raises this process's open-descriptor limit to its hard limit, for tests that hold
/// many connections.
void RaiseDescriptorLimit();

}  // namespace quenby::test
