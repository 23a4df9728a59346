// Names, addresses and services: resolution and the machine's own addresses.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "net/ipv4_address.h"
#include "net/socket_stack.h"
#include "util/text.h"

namespace quenby {

namespace {

constexpr int ServiceBufferSize = 1024;
constexpr int MaxPort = 65535;

// Resolution failures are not errno values: name errors read as "Host not found.".
int ResolverErrorCode(int eai_error) {
  if (eai_error == EAI_SYSTEM) {
    return TSocketStack::TranslateErrno(errno);
  }
  return SockErrHostNotFound;
}

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// IPv4 addresses a host name resolves to, or the resolver's error code (0 on success).
int ResolveIPv4(const std::string& name, std::vector<std::string>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  const int result = getaddrinfo(name.c_str(), nullptr, &hints, &raw);
  if (result != 0) {
    return ResolverErrorCode(result);
  }
  AddrInfoList list(raw);
  for (const addrinfo* item = list.get(); item != nullptr; item = item->ai_next) {
    const auto* address = reinterpret_cast<const sockaddr_in*>(item->ai_addr);
    std::string text = TSocketStack::AddressToText(address->sin_addr.s_addr);
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.push_back(std::move(text));
    }
  }
  return 0;
}

struct IfAddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

void AddInterfaceAddresses(std::vector<std::string>& addresses) {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) {
    return;
  }
  std::unique_ptr<ifaddrs, IfAddrsDeleter> list(raw);
  for (const ifaddrs* item = list.get(); item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET ||
        (item->ifa_flags & IFF_UP) == 0 || (item->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    const auto* address = reinterpret_cast<const sockaddr_in*>(item->ifa_addr);
    std::string text = TSocketStack::AddressToText(address->sin_addr.s_addr);
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.push_back(std::move(text));
    }
  }
}

}  // namespace

std::string TSocketStack::HostByName(const std::string& name) {
  std::vector<std::string> addresses;
  const int code = ResolveIPv4(name, addresses);
  if (code != 0 || addresses.empty()) {
    SetSocketLastError(code != 0 ? code : SockErrHostNotFound);
    CheckSocketResult(SocketError);
  }
  return addresses.front();
}

std::string TSocketStack::HostByAddress(const std::string& ip) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = AddressToNumber(ip);
  char host[NI_MAXHOST] = {};
  const int result = getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof(address), host,
                                 sizeof(host), nullptr, 0, NI_NAMEREQD);
  if (result != 0) {
    SetSocketLastError(ResolverErrorCode(result));
    CheckSocketResult(SocketError);
  }
  return host;
}

std::string TSocketStack::LocalHostName() {
  char name[LocalHostNameLength + 1] = {};
  if (gethostname(name, LocalHostNameLength) != 0) {
    return {};
  }
  return name;
}

std::vector<std::string> TSocketStack::LocalAddressList() {
  std::vector<std::string> addresses;
  AddInterfaceAddresses(addresses);
  const int code = ResolveIPv4(LocalHostName(), addresses);
  if (code != 0 && addresses.empty()) {
    SetSocketLastError(code);
    CheckSocketResult(SocketError);
  }
  std::lock_guard<std::mutex> lock(local_addresses_lock_);
  local_addresses_ = addresses;
  return addresses;
}

std::string TSocketStack::FirstLocalAddress() {
  const std::vector<std::string> addresses = LocalAddressList();
  if (addresses.empty()) {
    throw ENetException("No local address found.");
  }
  return addresses.front();
}

std::string TSocketStack::ResolveHostToIP(const std::string& host) {
  if (SameText(host, "LOCALHOST")) {
    return "127.0.0.1";
  }
  if (IsIPv4Address(host)) {
    return host;
  }
  return HostByName(host);
}

int TSocketStack::ServicePort(const std::string& service) {
  servent entry{};
  servent* found = nullptr;
  char buffer[ServiceBufferSize];
  if (getservbyname_r(service.c_str(), nullptr, &entry, buffer, sizeof(buffer), &found) == 0 &&
      found != nullptr) {
    return ntohs(static_cast<std::uint16_t>(found->s_port));
  }
  int port = 0;
  if (TryStrToInt(service, port)) {
    return port;
  }
  throw EInvalidServiceName(Format(RSInvalidServiceName, service.c_str()));
}

std::vector<std::string> TSocketStack::PortServiceNames(int port) {
  std::vector<std::string> names;
  if (port < 0 || port > MaxPort) {
    return names;
  }
  servent entry{};
  servent* found = nullptr;
  char buffer[ServiceBufferSize];
  const int network_port = htons(static_cast<std::uint16_t>(port));
  if (getservbyport_r(network_port, nullptr, &entry, buffer, sizeof(buffer), &found) == 0 &&
      found != nullptr) {
    names.emplace_back(found->s_name);
    for (char** alias = found->s_aliases; alias != nullptr && *alias != nullptr; ++alias) {
      names.emplace_back(*alias);
    }
  }
  return names;
}

bool TSocketStack::IsIPv4Address(const std::string& text) {
  return ParseIPv4Address(text).kind != 0;
}

std::uint32_t TSocketStack::AddressToNumber(const std::string& text) {
  const TIPv4Parse parsed = ParseIPv4Address(text);
  if (parsed.kind == 0) {
    throw EInvalidIPAddress(Format(RSInvalidIPAddress, text.c_str()));
  }
  std::uint32_t address = 0;
  std::memcpy(&address, parsed.bytes, sizeof(address));
  return address;
}

std::string TSocketStack::AddressToText(std::uint32_t network_order_address) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &network_order_address, sizeof(bytes));
  return Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

}  // namespace quenby
