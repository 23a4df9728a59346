#pragma once

#include <string>

namespace quenby {

/// The desktop's opener of addresses, looked up on PATH.
inline constexpr const char* DesktopOpener = "xdg-open";

/// Opens `url` with the desktop's opener, without waiting for the browser. Returns an empty
/// text when the opener was started, else a one-line reason (the opener is missing, or the
/// system could not start it). Any thread; raises nothing but std::bad_alloc.
std::string OpenInBrowser(const std::string& url);

/// The full path of the executable `name` on PATH; empty when there is none.
std::string FindOnPath(const std::string& name);

}  // namespace quenby
