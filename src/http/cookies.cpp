#include "http/cookies.h"

#include <mutex>
#include <stdexcept>

#include "http/http_text.h"
#include "util/text.h"

namespace quenby {

void TCookieList::Add(std::string_view domain, std::string_view cookie_name) {
  for (auto& [listed, names] : domains_) {
    if (SameText(listed, domain)) {
      names.emplace_back(cookie_name);
      return;
    }
  }
  domains_.emplace_back(std::string(domain), std::vector<std::string>{std::string(cookie_name)});
}

void TCookieList::Remove(std::string_view domain, std::string_view cookie_name) {
  for (auto& [listed, names] : domains_) {
    if (!SameText(listed, domain))
      continue;
    for (auto it = names.begin(); it != names.end(); ++it) {
      if (*it == cookie_name) {
        names.erase(it);
        return;
      }
    }
    return;
  }
}

std::vector<std::string> TCookieList::NamesOf(std::string_view domain) const {
  for (const auto& [listed, names] : domains_) {
    if (SameText(listed, domain))
      return names;
  }
  return {};
}

TCookies::~TCookies() {
  items_.clear();
}

TCookieRFC2109& TCookies::operator[](int index) const {
  return *items_.at(static_cast<std::size_t>(index));
}

TCookieRFC2109& TCookies::Add() {
  return Append(std::make_unique<TCookieRFC2109>(this));
}

TCookieRFC2109& TCookies::AddCookie(std::string_view text) {
  TCookieRFC2109& item = Append(std::make_unique<TCookieRFC2109>(this));
  item.SetCookieText(text);
  return item;
}

void TCookies::AddCookieLine(std::string_view line) {
  std::string rest(line);
  while (Pos(";", rest) != 0) {
    AddCookie(SplitOff(rest, ";"));
    rest = Trim(rest);
  }
  if (!rest.empty())
    AddCookie(rest);
}

int TCookies::GetCookieIndex(int start, std::string_view name) const {
  for (int index = start < 0 ? 0 : start; index < Count(); ++index) {
    if (SameText(items_[static_cast<std::size_t>(index)]->CookieName, name))
      return index;
  }
  return -1;
}

void TCookies::Delete(int index) {
  if (index < 0 || index >= Count())
    throw std::out_of_range("TCookies::Delete: index out of range");
  items_.erase(items_.begin() + index);
}

void TCookies::LockCookieListByDomain(TCookieAccess access) {
  if (access == TCookieAccess::Read)
    domain_lock_.lock_shared();
  else
    domain_lock_.lock();
}

void TCookies::UnlockCookieListByDomain(TCookieAccess access) {
  if (access == TCookieAccess::Read)
    domain_lock_.unlock_shared();
  else
    domain_lock_.unlock();
}

void TCookies::RemoveFromDomainIndex(const TNetscapeCookie& item) {
  std::unique_lock<std::shared_mutex> lock(domain_lock_);
  domain_index_.Remove(item.CookieDomain, item.CookieName);
}

TCookieRFC2109& TCookies::Append(std::unique_ptr<TCookieRFC2109> item) {
  items_.push_back(std::move(item));
  return *items_.back();
}

TCookieRFC2109& TServerCookies::Add() {
  return Append(std::make_unique<TServerCookie>(this));
}

}  // namespace quenby
