#pragma once

#include <string>
#include <string_view>

#include "util/date_time.h"

namespace quenby {

class TECB;

/// Copies a module's header block `H` (lines separated by CR LF) into the block's reply:
/// "Set-Cookie: " lines become cookies, Content-type, Location (a non-empty one also makes
/// the status 302), Pragma, Date, Expires and LastModified; other lines are dropped. A
/// Date or LastModified value that cannot be read stops there and gives false; what was
/// set before stays set.
bool ApplyExtensionHeaders(TECB& block, std::string_view H);

/// Reads the local date-time texts modules give in Date and LastModified:
/// "YYYY-MM-DD", optionally followed by " HH:NN" or " HH:NN:SS". False for anything else.
bool TryTextToDateTime(std::string_view text, TDateTime& value);

/// Writes the status line and the header block built from the reply record to the client,
/// once per run: the status line is "HTTP/1.1 " + `module_status` when the module gave one,
/// else built from the record's status. False when the write fails (the client is gone).
bool SendExtensionHeader(TECB& block, std::string_view module_status);

}  // namespace quenby
