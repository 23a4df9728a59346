#include "util/activity_log.h"

#include <fcntl.h>

#include <cerrno>

#include "util/exception.h"
#include "util/file_handle.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr std::string_view LogLineEnd = "\r\n";
constexpr unsigned LogFileMode = 0666;  // narrowed by the process's umask

[[noreturn]] void RaiseLogError(const char* what, const std::string& file_name, int error) {
  errno = error;
  RaiseLastOSError(Format("Unable to %s log file %s", what, file_name.c_str()));
}

constexpr unsigned char FirstPrintable = 0x20;
constexpr unsigned char Delete = 0x7F;

// A client chooses much of what is logged (the request path, say): a line break in it would
// let it write entries of its own. Control bytes are therefore written as "%0D" and the like,
// so that every entry is exactly its two lines.
void AppendEscaped(std::string& entry, std::string_view text) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= FirstPrintable && byte != Delete) {
      entry += c;
      continue;
    }
    entry += '%';
    entry += Hex[byte >> 4];
    entry += Hex[byte & 0x0F];
  }
}

std::string BuildEntry(std::string_view text, TDateTime stamp) {
  std::string entry = FormatStamp(stamp);
  entry += LogStampSeparator;
  entry += LogLineEnd;
  AppendEscaped(entry, text);
  entry += LogLineEnd;
  return entry;
}

}  // namespace

std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}

void AppendLogEntry(std::string_view text, const std::string& file_name) {
  AppendLogEntry(text, file_name, Now());
}

void AppendLogEntry(std::string_view text, const std::string& file_name, TDateTime stamp) {
  const std::lock_guard<std::mutex> guard(LogLock());
  if (file_name.empty())
    return;
  TFileHandle file = OpenFile(file_name, O_WRONLY | O_APPEND | O_CREAT, LogFileMode);
  if (!file.IsOpen())
    RaiseLogError("open", file_name, errno);
  // A failing write still closes the file, through the handle, before the error leaves.
  if (const int error = WriteAll(file.Get(), BuildEntry(text, stamp)); error != 0)
    RaiseLogError("write to", file_name, error);
  if (const int error = file.Close(); error != 0)
    RaiseLogError("close", file_name, error);
}

std::string FormatStamp(TDateTime value) {
  const DateParts parts = DecodeDateTime(value);
  return Format("%04d-%02d-%02d %02d:%02d:%02d", parts.year, parts.month, parts.day, parts.hour,
                parts.minute, parts.second);
}

}  // namespace quenby
