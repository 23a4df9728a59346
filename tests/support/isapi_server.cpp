#include "support/isapi_server.h"

#include <gtest/gtest.h>

#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "support/net_loopback.h"
#include "util/text.h"

namespace quenby::test {
namespace {

constexpr std::string_view ModuleExtension = ".dll";
constexpr const char* Loopback = "127.0.0.1";

}  // namespace

TISAPITestServer::TISAPITestServer(std::string root)
    : root_(std::move(root)),
      runner_(std::make_unique<TISAPIRunner>()),
      server_(std::make_unique<THTTPServer>()) {
  runner_->Server = server_.get();
  server_->KeepAlive = false;
  TSocketHandle& binding = server_->Bindings().Add();
  binding.IP = Loopback;
  binding.Port = 0;
  server_->OnCommandGet = [this](TPeerThread& thread, THTTPRequestInfo& request,
                                 THTTPResponseInfo& response) {
    const std::size_t at = LowerCase(request.Path).find(ModuleExtension);
    if (at == std::string::npos) {
      response.SetStatusCode(404);
      return;
    }
    const std::size_t end = at + ModuleExtension.size();
    runner_->RunExtension(root_ + request.Path.substr(0, end), &thread, &request, &response,
                          root_ + "/", false, request.Path.substr(end));
  };
}

TISAPITestServer::~TISAPITestServer() {
  Stop();
}

void TISAPITestServer::Start() {
  server_->SetActive(true);
}

void TISAPITestServer::Stop() {
  if (server_->Active())
    server_->SetActive(false);
}

int TISAPITestServer::Port() const {
  return server_->Bindings()[0].Port;
}

std::string TISAPITestServer::Fetch(const std::string& request) const {
  TLoopbackClient client(Port());
  client.Send(request);
  return client.ReceiveUntilClose();
}

std::string TISAPITestServer::Get(const std::string& target) const {
  return Fetch("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
}

std::string BodyOf(const std::string& reply) {
  const std::size_t at = reply.find("\r\n\r\n");
  return at == std::string::npos ? reply : reply.substr(at + 4);
}

std::string StatusLineOf(const std::string& reply) {
  return reply.substr(0, reply.find("\r\n"));
}

std::string HeaderOf(const std::string& reply, const std::string& name) {
  const std::string head = reply.substr(0, reply.find("\r\n\r\n"));
  std::size_t start = head.find("\r\n");
  while (start != std::string::npos) {
    start += 2;
    const std::size_t end = head.find("\r\n", start);
    const std::string line = head.substr(start, end - start);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && SameText(line.substr(0, colon), name))
      return Trim(line.substr(colon + 1));
    start = end;
  }
  return {};
}

}  // namespace quenby::test
