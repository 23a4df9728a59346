#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/socket_stack.h"

namespace quenby {

constexpr int DefaultMaxHistoryEntries = 25;
constexpr int DefaultWatchInterval = 1000;
/// Longest sleep of the checking thread between looks at its stop request.
constexpr int WatchSleepSlice = 500;
inline constexpr const char* DefaultHistoryFilename = "iphist.dat";
inline constexpr const char* LoopbackAddress = "127.0.0.1";

class TIPWatchThread;

/// Tells which address the machine has on the network, and optionally watches it going
/// online and offline with a history of the addresses it had.
///
/// Threads: properties and QueryLocalAddress belong to the controlling thread. While Active,
/// a checking thread of the watch's own runs a check after every sleep slice: through
/// Dispatcher when one is assigned (it must run the given check to its end before
/// returning, e.g. on the window thread), otherwise directly on the checking thread. The
/// watch's state is guarded by its lock either way, and OnStatusChanged runs outside it.
class TIPWatch {
 public:
  TIPWatch();
  /// Adds the current address to the history when online, stops checking and saves the
  /// history when HistoryEnabled (a failure to write it is ignored).
  ~TIPWatch();
  TIPWatch(const TIPWatch&) = delete;
  TIPWatch& operator=(const TIPWatch&) = delete;

  bool HistoryEnabled = true;
  std::string HistoryFilename = DefaultHistoryFilename;
  /// Raised (from the check's thread) when the machine goes online or offline.
  std::function<void(TIPWatch&)> OnStatusChanged;
  /// Runs one periodic check to its end; unset: the checking thread runs it itself. Stopping
  /// the watch joins the checking thread, so a dispatcher that hands the check to the
  /// controlling thread must give up instead of waiting while that thread stops the watch.
  std::function<void(const std::function<void()>&)> Dispatcher;
  /// Source of the local address; unset: SocketStack().FirstLocalAddress().
  std::function<std::string()> AddressSource;

  bool Active() const;
  /// Starts or stops (and joins) the checking thread.
  void SetActive(bool value);
  int MaxHistoryEntries() const;
  /// A lower limit drops the oldest entries at once.
  void SetMaxHistoryEntries(int value);
  int WatchInterval() const;
  /// Also the length of a running thread's next cycle.
  void SetWatchInterval(int value);

  /// The machine's first own address, asked afresh. Failures propagate (ESocketError,
  /// ENetException when there is none). Any thread.
  std::string QueryLocalAddress();
  /// One check of the address; skipped while a query is under way; failures are swallowed.
  void CheckStatus();

  std::string CurrentAddress() const;
  std::string PreviousAddress() const;
  bool Online() const;
  /// Oldest first.
  std::vector<std::string> History() const;
  /// Writes the history to HistoryFilename, one address per line. Raises EInOutError.
  void SaveHistory() const;

 private:
  enum TFirstOnline { foNever, foFirstSeen, foSettled };
  void AddToHistory(const std::string& address);
  void TrimHistory();
  bool ApplyCheck(const std::string& address);

  TSocketStackLease stack_lease_;
  mutable std::mutex lock_;  // guards the state below
  std::string current_;
  std::string previous_;
  bool online_ = false;
  std::vector<std::string> history_;
  TFirstOnline first_online_ = foNever;
  int max_history_entries_ = DefaultMaxHistoryEntries;
  std::atomic<int> watch_interval_{DefaultWatchInterval};
  std::atomic<int> busy_{0};  // queries under way
  std::unique_ptr<TIPWatchThread> thread_;
};

}  // namespace quenby
