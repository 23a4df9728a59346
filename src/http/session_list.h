#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_session.h"

namespace quenby {

using TOnSessionStartEvent = std::function<void(THTTPSession& Sender)>;
using TOnSessionEndEvent = std::function<void(THTTPSession& Sender)>;

/// The sessions of a server. Sessions are owned by the list; pointers it returns stay valid
/// until the session ends (a purge finds it stale, ClearSessions, or a caller takes it out
/// with UnlinkSession). The operations are safe from any thread; SessionTimeout and the
/// events are set while no other thread uses the list (before the server is activated).
class THTTPCustomSessionList {
 public:
  virtual ~THTTPCustomSessionList() = default;

  /// Takes the session out of the list and hands it to the caller; null when the list does
  /// not hold it. Destroying the returned session fires OnSessionEnd.
  virtual std::unique_ptr<THTTPSession> UnlinkSession(THTTPSession& session) = 0;
  /// Ends every session (OnSessionEnd once each, last first) and empties the list.
  virtual void ClearSessions() = 0;
  /// Ends every stale session, or every session when `purge_all` is set.
  virtual void PurgeSessions(bool purge_all) = 0;
  /// Starts a session with a fresh key unknown to the list, for a client address.
  virtual THTTPSession& StartSession(const std::string& client_address) = 0;
  /// Makes a session with this key (firing OnSessionStart) and appends it.
  virtual THTTPSession& AddSession(const std::string& client_address, const std::string& key) = 0;
  /// The first session whose key equals `key` ignoring case and, when `client_address` is
  /// not empty, whose address equals it; its LastAccess is renewed. Null when none.
  virtual THTTPSession* FindSession(std::string_view key, std::string_view client_address) = 0;
  /// Appends a session made elsewhere (a handler's); the list takes ownership. Raises
  /// std::invalid_argument for a null session.
  virtual THTTPSession& InsertSession(std::unique_ptr<THTTPSession> session) = 0;

  /// Idle time in milliseconds after which a session is stale.
  std::int32_t SessionTimeout = 0;
  TOnSessionEndEvent OnSessionEnd;
  TOnSessionStartEvent OnSessionStart;
};

/// The session list over a vector guarded by one mutex. OnSessionStart runs on the creating
/// thread outside the lock; OnSessionEnd runs on the ending thread after the ended sessions
/// have been taken out of the list, outside the lock, so an end handler may use the list.
class THTTPDefaultSessionList : public THTTPCustomSessionList {
 public:
  static constexpr std::size_t InitialCapacity = 128;

  THTTPDefaultSessionList();
  /// Ends the remaining sessions (ClearSessions).
  ~THTTPDefaultSessionList() override;

  std::unique_ptr<THTTPSession> UnlinkSession(THTTPSession& session) override;
  void ClearSessions() override;
  void PurgeSessions(bool purge_all) override;
  THTTPSession& StartSession(const std::string& client_address) override;
  THTTPSession& AddSession(const std::string& client_address, const std::string& key) override;
  THTTPSession* FindSession(std::string_view key, std::string_view client_address) override;
  THTTPSession& InsertSession(std::unique_ptr<THTTPSession> session) override;

  /// Number of sessions in the list at this moment.
  int Count() const;

 private:
  using SessionPtr = std::unique_ptr<THTTPSession>;
  /// Fires the end notification of each session, last first, and frees them.
  static void EndSessions(std::vector<SessionPtr> ended);

  mutable std::mutex lock_;
  std::vector<SessionPtr> sessions_;
};

}  // namespace quenby
