#include "http/session_list.h"

#include <algorithm>
#include <stdexcept>

#include "util/text.h"

namespace quenby {

THTTPDefaultSessionList::THTTPDefaultSessionList() {
  sessions_.reserve(InitialCapacity);
}

THTTPDefaultSessionList::~THTTPDefaultSessionList() {
  ClearSessions();
}

std::unique_ptr<THTTPSession> THTTPDefaultSessionList::UnlinkSession(THTTPSession& session) {
  std::lock_guard<std::mutex> lock(lock_);
  const auto found = std::find_if(sessions_.begin(), sessions_.end(),
                                  [&](const SessionPtr& entry) { return entry.get() == &session; });
  if (found == sessions_.end())
    return nullptr;
  SessionPtr taken = std::move(*found);
  sessions_.erase(found);
  return taken;
}

void THTTPDefaultSessionList::ClearSessions() {
  std::vector<SessionPtr> ended;
  {
    std::lock_guard<std::mutex> lock(lock_);
    ended.swap(sessions_);
    sessions_.reserve(InitialCapacity);
  }
  EndSessions(std::move(ended));
}

void THTTPDefaultSessionList::PurgeSessions(bool purge_all) {
  std::vector<SessionPtr> ended;
  {
    std::lock_guard<std::mutex> lock(lock_);
    const auto keep = std::stable_partition(
        sessions_.begin(), sessions_.end(),
        [&](const SessionPtr& session) { return !purge_all && !session->IsStale(); });
    std::move(keep, sessions_.end(), std::back_inserter(ended));
    sessions_.erase(keep, sessions_.end());
  }
  EndSessions(std::move(ended));
}

THTTPSession& THTTPDefaultSessionList::StartSession(const std::string& client_address) {
  std::string key = NewSessionID(SessionIDLength);
  while (FindSession(key, client_address) != nullptr)
    key = NewSessionID(SessionIDLength);
  return AddSession(client_address, key);
}

THTTPSession& THTTPDefaultSessionList::AddSession(const std::string& client_address,
                                                  const std::string& key) {
  return InsertSession(std::make_unique<THTTPSession>(this, key, client_address));
}

THTTPSession* THTTPDefaultSessionList::FindSession(std::string_view key,
                                                   std::string_view client_address) {
  std::lock_guard<std::mutex> lock(lock_);
  for (const SessionPtr& session : sessions_) {
    if (!SameText(session->SessionKey, key))
      continue;
    if (!client_address.empty() && !SameText(session->ClientAddress, client_address))
      continue;
    session->SetLastAccess(Now());
    return session.get();
  }
  return nullptr;
}

THTTPSession& THTTPDefaultSessionList::InsertSession(std::unique_ptr<THTTPSession> session) {
  if (!session)
    throw std::invalid_argument("THTTPDefaultSessionList::InsertSession: no session");
  std::lock_guard<std::mutex> lock(lock_);
  sessions_.push_back(std::move(session));
  return *sessions_.back();
}

int THTTPDefaultSessionList::Count() const {
  std::lock_guard<std::mutex> lock(lock_);
  return static_cast<int>(sessions_.size());
}

void THTTPDefaultSessionList::EndSessions(std::vector<SessionPtr> ended) {
  for (auto it = ended.rbegin(); it != ended.rend(); ++it) {
    (*it)->DoSessionEnd();
    (*it)->OwnerList = nullptr;
    it->reset();
  }
}

}  // namespace quenby
