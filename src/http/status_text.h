#pragma once

namespace quenby {

/// The reason phrase the reply writer sends for a status number ("Not Found" for 404);
/// "Unknown Response Code" for a number the table does not hold. Thread-safe.
const char* StatusTextOf(int status_code);

}  // namespace quenby
