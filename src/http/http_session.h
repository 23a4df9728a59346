#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "util/date_time.h"

namespace quenby {

class THTTPCustomSessionList;

/// Name of the cookie that carries the session key.
inline constexpr const char* SessionCookieName = "HTTPSESSIONID";
/// Characters a session key is drawn from.
inline constexpr std::string_view SessionIDAlphabet =
    "qwertzuiopasdfghjklyxcvbnmQWERTZUIOPASDFGHJKLYXCVBNM1234567890";
inline constexpr int SessionIDLength = 15;

/// A key of `length` characters, each drawn uniformly from SessionIDAlphabet by the
/// system's non-deterministic source, so keys made at the same moment on any number of
/// threads are independent. Thread-safe.
std::string NewSessionID(int length = SessionIDLength);

/// A client's server-side session, owned by its session list. Handlers may use
/// SessionValues, guarded by SessionLock when requests of one session run concurrently;
/// the engine never takes SessionLock.
class THTTPSession {
 public:
  /// A session made by a handler: empty key and address, LastAccess 0. Fires the owner's
  /// OnSessionStart on the calling thread.
  explicit THTTPSession(THTTPCustomSessionList* owner);
  /// A session made by the engine: LastAccess is now. Fires the owner's OnSessionStart on the
  /// calling thread, before the session is in the list.
  THTTPSession(THTTPCustomSessionList* owner, std::string key, std::string client_address);
  /// When the session still has an owner (it was taken out of the list with UnlinkSession,
  /// or never put in), fires OnSessionEnd first. A list that ends a session clears OwnerList
  /// beforehand, so the notification fires once.
  virtual ~THTTPSession();
  THTTPSession(const THTTPSession&) = delete;
  THTTPSession& operator=(const THTTPSession&) = delete;

  /// True when more milliseconds than the owner's SessionTimeout have passed since
  /// LastAccess; false without an owner.
  virtual bool IsStale() const;
  /// The end notification: the owner's OnSessionEnd with this session, when both exist.
  virtual void DoSessionEnd();

  /// Creation time, renewed by every successful FindSession. Any thread.
  TDateTime LastAccess() const { return last_access_.load(); }
  void SetLastAccess(TDateTime value) { last_access_.store(value); }

  /// name=value strings for the application.
  std::vector<std::string> SessionValues;
  /// For handlers that share the session between threads.
  std::mutex SessionLock;
  /// The list the session belongs to; null once the list is ending it. Not owned.
  THTTPCustomSessionList* OwnerList;
  /// The key sent in the session cookie.
  std::string SessionKey;
  /// The peer address that started the session.
  std::string ClientAddress;

 private:
  std::atomic<TDateTime> last_access_{0};
};

}  // namespace quenby
