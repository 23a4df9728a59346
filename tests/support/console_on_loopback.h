#pragma once

#include <string>

#include "console/server_console.h"
#include "support/temp_dir.h"

namespace quenby::test {

/// A console as the window has it after creation and showing, its executable in a temporary
/// folder, on loopback with port 0 and the log on beside it; the root is `root_folder` inside
/// that folder ("" for the folder itself). Stops the server when it goes.
class TConsoleOnLoopback {
 public:
  explicit TConsoleOnLoopback(const std::string& root_folder = "");
  ~TConsoleOnLoopback();
  TConsoleOnLoopback(const TConsoleOnLoopback&) = delete;
  TConsoleOnLoopback& operator=(const TConsoleOnLoopback&) = delete;

  /// Sends `request` on a new connection and returns every byte until the server closes.
  std::string Exchange(const std::string& request) const;
  /// The activity log; empty when nothing was logged.
  std::string Log() const;

  TempDir Dir;
  TServerConsole Console;
};

}  // namespace quenby::test
