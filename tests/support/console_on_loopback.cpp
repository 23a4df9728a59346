#include "support/console_on_loopback.h"

#include "support/net_loopback.h"

namespace quenby::test {

TConsoleOnLoopback::TConsoleOnLoopback(const std::string& root_folder)
    : Console(Dir.FilePath("quenby"), "") {
  Console.IPWatch1.AddressSource = [] { return std::string("127.0.0.1"); };
  Console.FormCreate();
  Console.FormShow();
  Console.Settings.Host = "127.0.0.1";
  Console.Settings.Port = "0";
  Console.Settings.Root = root_folder.empty() ? Dir.Path() : Dir.FilePath(root_folder);
  Console.Settings.EnableLog = true;
}

TConsoleOnLoopback::~TConsoleOnLoopback() {
  try {
    Console.btnStopClick();
  } catch (...) {
    // The console's own destructor stops the server in any case.
  }
}

std::string TConsoleOnLoopback::Exchange(const std::string& request) const {
  TLoopbackClient client(const_cast<TServerConsole&>(Console).ListeningPort());
  client.Send(request);
  return client.ReceiveUntilClose();
}

std::string TConsoleOnLoopback::Log() const {
  return Dir.Exists("quenby.log") ? Dir.Read("quenby.log") : "";
}

}  // namespace quenby::test
