#include "http/http_session.h"

#include <random>

#include "http/session_list.h"

namespace quenby {

std::string NewSessionID(int length) {
  // One generator for the process, fed by the system's entropy: re-seeding a
  // pseudo-random generator from the clock for every key would hand out equal keys to
  // sessions started within the same clock tick.
  static std::mutex mutex;
  static std::random_device source;
  std::uniform_int_distribution<std::size_t> pick(0, SessionIDAlphabet.size() - 1);
  std::string key;
  key.reserve(length > 0 ? static_cast<std::size_t>(length) : 0);
  std::lock_guard<std::mutex> lock(mutex);
  for (int i = 0; i < length; ++i)
    key += SessionIDAlphabet[pick(source)];
  return key;
}

THTTPSession::THTTPSession(THTTPCustomSessionList* owner) : OwnerList(owner) {
  if (OwnerList != nullptr && OwnerList->OnSessionStart)
    OwnerList->OnSessionStart(*this);
}

THTTPSession::THTTPSession(THTTPCustomSessionList* owner, std::string key,
                           std::string client_address)
    : OwnerList(owner),
      SessionKey(std::move(key)),
      ClientAddress(std::move(client_address)),
      last_access_(Now()) {
  if (OwnerList != nullptr && OwnerList->OnSessionStart)
    OwnerList->OnSessionStart(*this);
}

THTTPSession::~THTTPSession() {
  if (OwnerList == nullptr)
    return;
  DoSessionEnd();
  // Only reached for a session the list no longer holds (or never held); should a caller
  // delete a listed session anyway, the list must not free it a second time.
  OwnerList->UnlinkSession(*this).release();
}

bool THTTPSession::IsStale() const {
  if (OwnerList == nullptr)
    return false;
  return MillisecondsBetween(LastAccess(), Now()) > OwnerList->SessionTimeout;
}

void THTTPSession::DoSessionEnd() {
  if (OwnerList != nullptr && OwnerList->OnSessionEnd)
    OwnerList->OnSessionEnd(*this);
}

}  // namespace quenby
