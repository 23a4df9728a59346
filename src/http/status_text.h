#pragma once

namespace quenby {

/// The status numbers the server and the extension host set themselves. Their reason
/// phrases come from the status table behind StatusTextOf.
constexpr int StatusOK = 200;
constexpr int StatusNoContent = 204;
constexpr int StatusPartialContent = 206;
constexpr int StatusMovedTemporarily = 302;
constexpr int StatusNotModified = 304;
constexpr int StatusBadRequest = 400;
constexpr int StatusUnauthorized = 401;
constexpr int StatusNotFound = 404;
constexpr int StatusMethodNotAllowed = 405;
constexpr int StatusLengthRequired = 411;
constexpr int StatusRangeNotSatisfiable = 416;
constexpr int StatusInternalServerError = 500;
/// Statuses from this one on report a failure.
constexpr int FirstErrorStatus = 400;

/// The reason phrase the reply writer sends for a status number ("Not Found" for 404);
/// "Unknown Response Code" for a number the table does not hold. Thread-safe.
const char* StatusTextOf(int status_code);

}  // namespace quenby
