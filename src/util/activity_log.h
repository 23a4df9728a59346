#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "util/date_time.h"

namespace quenby {

// Activity log entries: two lines each, the local time stamp followed by LogStampSeparator,
// then the entry's text, every line ended by CR LF.

/// Ends the stamp line of every entry: a space, twelve "-", a space.
inline constexpr std::string_view LogStampSeparator = " ------------ ";

/// The one process-wide lock that serialises every AppendLogEntry, whatever file it writes.
/// Lives from first use to program end. Holding it while calling AppendLogEntry deadlocks.
std::mutex& LogLock();

/// Appends one entry stamped with the current local time to the file, creating the file
/// when it is missing. Control bytes in the text (below 0x20, and 0x7F) are written as "%"
/// and two upper-case hex digits, so that no text can add lines or entries of its own. Any thread
/// may call it; under LogLock the file is opened, written and closed for this one entry, so
/// concurrent entries never interleave and other programs may read, rename or delete the file
/// between entries. An empty file name writes nothing. Raises EInOutError carrying the operating
/// system's error number and naming the file when the file cannot be opened, written or closed; the
/// file is closed and the lock released in every case, and the entry is lost.
void AppendLogEntry(std::string_view text, const std::string& file_name);

/// The same with the given local time as stamp (so that a caller can show the same time).
void AppendLogEntry(std::string_view text, const std::string& file_name, TDateTime stamp);

/// "yyyy-mm-dd hh:nn:ss": the layout of the log entry's stamp and of the console's status
/// lines. Stateless; any thread.
std::string FormatStamp(TDateTime value);

}  // namespace quenby
