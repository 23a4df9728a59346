// The server's request loop over an in-memory connection: the input is the bytes a client
// sends, cut into receives of a size the first byte picks, with keep-alive on or off.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "http/http_server.h"
#include "support/memory_io_handler.h"
#include "util/exception.h"

namespace {

using quenby::test::TMemoryIOHandler;

quenby::THTTPServer& Server(bool keep_alive) {
  // Built once: the server is never activated, so it holds no connection between inputs.
  static quenby::THTTPServer* servers[2] = {nullptr, nullptr};
  quenby::THTTPServer*& server = servers[keep_alive ? 1 : 0];
  if (server == nullptr) {
    server = new quenby::THTTPServer();
    server->KeepAlive = keep_alive;
    server->OnCommandGet = [](quenby::TPeerThread&, quenby::THTTPRequestInfo& request,
                              quenby::THTTPResponseInfo& response) {
      // Touch what the reader filled in, so every part of the record is read back.
      std::string body = request.Path + request.QueryText + request.Host +
                         request.AuthorizationUser + request.AuthorizationPassword;
      for (const std::string& item : request.ParamList)
        body += item;
      for (int i = 0; i < request.ServerCookies.Count(); ++i)
        body += request.ServerCookies[i].CookieName + request.ServerCookies[i].CookieValue;
      // A path ending in "!" fails the handler, so the loop's 500 trap runs too.
      if (!request.Path.empty() && request.Path.back() == '!')
        throw quenby::Exception("handler failed");
      response.BodyText = body;
    };
    server->OnCommandOther = [](quenby::TPeerThread&, const std::string&, const std::string&,
                                const std::string&) {};
  }
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::uint8_t mode = data[0];
  const bool keep_alive = (mode & 0x80) != 0;
  const std::size_t chunk = (mode & 0x7f) == 0 ? size : (mode & 0x7f);
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::string> chunks;
  for (std::size_t at = 0; at < input.size(); at += chunk)
    chunks.push_back(input.substr(at, chunk));
  TMemoryIOHandler handler(std::move(chunks));

  quenby::TPeerThread thread;  // never started: the loop runs on this thread
  auto connection = std::make_unique<quenby::TTCPServerConnection>(&Server(keep_alive));
  connection->SetIOHandler(&handler);
  thread.SetConnection(std::move(connection));
  try {
    Server(keep_alive).ExecuteHook(thread);
  } catch (const std::exception&) {
    // What the loop lets out goes to the listener's exception report: a valid outcome.
  }
  return 0;
}
