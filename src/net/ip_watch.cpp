#include "net/ip_watch.h"

#include <algorithm>

#include "net/net_thread.h"
#include "util/stream.h"
#include "util/text.h"

namespace quenby {

/// The watch's checking thread: sleeps in slices and runs a check after each.
class TIPWatchThread : public TNetThread {
 public:
  explicit TIPWatchThread(TIPWatch& watch) : watch_(watch) {}
  ~TIPWatchThread() override { EndThread(); }

 protected:
  void RunOnce() override {
    int remaining = watch_.WatchInterval();
    do {
      const int slice = std::min(std::max(remaining, 0), WatchSleepSlice);
      if (!SleepUnlessStopped(slice)) {
        return;
      }
      remaining -= slice;
      if (watch_.Dispatcher) {
        watch_.Dispatcher([this] { watch_.CheckStatus(); });
      } else {
        watch_.CheckStatus();
      }
    } while (remaining > 0);
  }

 private:
  TIPWatch& watch_;
};

namespace {

// Decrements the busy count also when the query fails.
class TBusyMark {
 public:
  explicit TBusyMark(std::atomic<int>& busy) : busy_(busy) { ++busy_; }
  ~TBusyMark() { --busy_; }
  TBusyMark(const TBusyMark&) = delete;
  TBusyMark& operator=(const TBusyMark&) = delete;

 private:
  std::atomic<int>& busy_;
};

bool IsOnlineAddress(const std::string& address) {
  return !address.empty() && address != LoopbackAddress;
}

}  // namespace

TIPWatch::TIPWatch() = default;

TIPWatch::~TIPWatch() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (online_) {
      AddToHistory(current_);
    }
  }
  thread_.reset();
  if (HistoryEnabled) {
    try {
      SaveHistory();
    } catch (...) {
      // Nothing to report to at destruction; the history is a convenience.
    }
  }
}

bool TIPWatch::Active() const {
  return thread_ != nullptr;
}

void TIPWatch::SetActive(bool value) {
  if (value == Active()) {
    return;
  }
  if (value) {
    thread_ = std::make_unique<TIPWatchThread>(*this);
    thread_->Start();
  } else {
    thread_.reset();  // terminates and joins
  }
}

int TIPWatch::MaxHistoryEntries() const {
  std::lock_guard<std::mutex> guard(lock_);
  return max_history_entries_;
}

void TIPWatch::SetMaxHistoryEntries(int value) {
  std::lock_guard<std::mutex> guard(lock_);
  max_history_entries_ = value;
  TrimHistory();
}

int TIPWatch::WatchInterval() const {
  return watch_interval_;
}

void TIPWatch::SetWatchInterval(int value) {
  watch_interval_ = value;
}

std::string TIPWatch::QueryLocalAddress() {
  TBusyMark busy(busy_);
  return AddressSource ? AddressSource() : SocketStack().FirstLocalAddress();
}

void TIPWatch::CheckStatus() {
  if (busy_ > 0) {
    return;
  }
  try {
    if (ApplyCheck(QueryLocalAddress()) && OnStatusChanged) {
      OnStatusChanged(*this);
    }
  } catch (...) {
    // A failed look is simply no news: the next cycle looks again.
  }
}

bool TIPWatch::ApplyCheck(const std::string& address) {
  std::lock_guard<std::mutex> guard(lock_);
  const bool was_online = online_;
  const std::string old_address = current_;
  current_ = address;
  online_ = IsOnlineAddress(address);
  if (was_online && !online_) {
    if (IsOnlineAddress(old_address)) {
      previous_ = old_address;
    }
    AddToHistory(previous_);
  }
  if (!was_online && online_) {
    if (first_online_ == foNever) {
      first_online_ = foFirstSeen;
    }
    if (first_online_ == foFirstSeen && previous_ == current_) {
      if (!history_.empty()) {
        history_.pop_back();
      }
      previous_ = history_.empty() ? std::string() : history_.back();
    }
    first_online_ = foSettled;
  }
  return was_online != online_;
}

void TIPWatch::AddToHistory(const std::string& address) {
  if (!IsOnlineAddress(address) || (!history_.empty() && history_.back() == address)) {
    return;
  }
  history_.push_back(address);
  TrimHistory();
}

void TIPWatch::TrimHistory() {
  const std::size_t limit = static_cast<std::size_t>(std::max(max_history_entries_, 0));
  if (history_.size() > limit) {
    history_.erase(history_.begin(), history_.end() - static_cast<std::ptrdiff_t>(limit));
  }
}

std::string TIPWatch::CurrentAddress() const {
  std::lock_guard<std::mutex> guard(lock_);
  return current_;
}

std::string TIPWatch::PreviousAddress() const {
  std::lock_guard<std::mutex> guard(lock_);
  return previous_;
}

bool TIPWatch::Online() const {
  std::lock_guard<std::mutex> guard(lock_);
  return online_;
}

std::vector<std::string> TIPWatch::History() const {
  std::lock_guard<std::mutex> guard(lock_);
  return history_;
}

void TIPWatch::SaveHistory() const {
  const std::string text = LinesToText(History());
  TFileStream file(HistoryFilename, TFileStream::Mode::Create);
  file.Write(text.data(), static_cast<std::int64_t>(text.size()));
}

}  // namespace quenby
