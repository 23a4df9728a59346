#include "util/browser_opener.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace quenby {
namespace {

constexpr char PathListSeparator = ':';
constexpr const char* Shell = "/bin/sh";
// The shell starts the opener in the background and ends at once, so the opener (and the
// browser it may become) is nobody's child here and never waited for.
constexpr const char* DetachScript = "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &";

extern "C" char** environ;

}  // namespace

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "";
  while (!folders.empty()) {
    const std::size_t end = folders.find(PathListSeparator);
    std::string folder(folders.substr(0, end));
    folders = end == std::string_view::npos ? std::string_view() : folders.substr(end + 1);
    if (folder.empty())
      continue;
    const std::string candidate = folder + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

std::string OpenInBrowser(const std::string& url) {
  const std::string opener = FindOnPath(DesktopOpener);
  if (opener.empty())
    return std::string("cannot open ") + url + ": " + DesktopOpener + " is not installed";
  const char* arguments[] = {Shell, "-c", DetachScript, opener.c_str(), url.c_str(), nullptr};
  pid_t shell = 0;
  const int error =
      posix_spawn(&shell, Shell, nullptr, nullptr, const_cast<char* const*>(arguments), environ);
  if (error != 0)
    return std::string("cannot open ") + url + ": " + std::strerror(error);
  int status = 0;
  while (waitpid(shell, &status, 0) < 0 && errno == EINTR) {
  }
  return {};
}

}  // namespace quenby
