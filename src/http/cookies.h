#pragma once

#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/cookie.h"

namespace quenby {

/// Domain names, each with the names of the cookies kept for it. Unsorted; domains compare
/// ignoring case. Guarded by its collection's domain lock.
class TCookieList {
 public:
  void Add(std::string_view domain, std::string_view cookie_name);
  /// Removes one occurrence of the name from the domain's list (the domain stays listed).
  void Remove(std::string_view domain, std::string_view cookie_name);
  /// The cookie names of a domain; empty when the domain is not listed.
  std::vector<std::string> NamesOf(std::string_view domain) const;
  int Count() const { return static_cast<int>(domains_.size()); }

 private:
  std::vector<std::pair<std::string, std::vector<std::string>>> domains_;
};

enum class TCookieAccess { Read, Write };

/// The cookies of one request or reply, in order. Owns its items. Belongs to one peer thread;
/// only the domain index has a lock, for collections that are shared.
class TCookies {
 public:
  TCookies() = default;
  virtual ~TCookies();
  TCookies(const TCookies&) = delete;
  TCookies& operator=(const TCookies&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  /// The item at a 0-based index; raises std::out_of_range outside the collection.
  TCookieRFC2109& operator[](int index) const;
  /// Appends a new, empty item of the collection's kind and returns it.
  virtual TCookieRFC2109& Add();
  /// Appends a cookie received from a client: a TCookieRFC2109 whose cookie text is `text`,
  /// whatever the collection's kind.
  TCookieRFC2109& AddCookie(std::string_view text);
  /// Adds one received cookie per ";"-separated entry of a "Cookie" header value, in order
  /// ("a=1;;b=2" gives a, an empty item, and b).
  void AddCookieLine(std::string_view line);
  /// Index of the first item at or after `start` whose CookieName equals `name` ignoring
  /// case; -1 when there is none.
  int GetCookieIndex(int start, std::string_view name) const;
  void Delete(int index);
  void Clear() { items_.clear(); }

  /// Takes the domain index's lock: shared for reading, exclusive for writing. Every lock
  /// must be matched by an unlock of the same access on the same thread.
  void LockCookieListByDomain(TCookieAccess access);
  void UnlockCookieListByDomain(TCookieAccess access);
  /// The domain index; use it only while holding the domain lock.
  TCookieList& CookieListByDomain() { return domain_index_; }

  /// Called by an item that is being destroyed: drops its name from its domain's list.
  void RemoveFromDomainIndex(const TNetscapeCookie& item);

 protected:
  TCookieRFC2109& Append(std::unique_ptr<TCookieRFC2109> item);

 private:
  std::shared_mutex domain_lock_;
  TCookieList domain_index_;
  // Declared last so items go before the index and the lock they update when destroyed.
  std::vector<std::unique_ptr<TCookieRFC2109>> items_;
};

/// The cookies of a record on the server side: Add creates a TServerCookie.
class TServerCookies : public TCookies {
 public:
  TCookieRFC2109& Add() override;
};

}  // namespace quenby
