#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/file_handle.h"

namespace quenby {

/// Whether `path` names a regular file (not a folder, a device or nothing; an empty path names
/// nothing). Links are followed. Any thread; raises nothing.
bool IsRegularFile(std::string_view path);

/// Opens an existing file for reading. Raises EInOutError "Cannot open <path>: <reason>".
TFileHandle OpenForReading(const std::string& path);

/// Size in bytes of an open file, `path` naming it in the error. Raises EInOutError
/// "Cannot read the size of <path>: <reason>".
std::int64_t OpenFileSize(const TFileHandle& file, const std::string& path);

/// Size in bytes of the file at `path`, opened for the question. Raises what OpenForReading
/// and OpenFileSize raise.
std::int64_t FileSize(const std::string& path);

/// What tells one version of a file from another: a file rebuilt in place or renamed over
/// the old one differs in at least one field. All zero for a file that cannot be examined.
struct TFileIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::int64_t Size = 0;
  std::int64_t ModifiedNanoseconds = 0;

  bool operator==(const TFileIdentity&) const = default;
};

/// The identity of the file at `path` (links followed); all zero when it cannot be examined.
/// Any thread; raises nothing.
TFileIdentity FileIdentity(const std::string& path);

/// A regular file's identity with the time its status last changed. Every write, truncation,
/// rename over it, change of mode or owner and setting of its times changes one of the fields,
/// to a time no earlier than the change itself.
struct TFileVersion {
  TFileIdentity Identity;
  std::int64_t ChangedNanoseconds = 0;

  bool operator==(const TFileVersion&) const = default;
};

/// The version of the file at `path` (links followed); none unless it is a regular file.
/// One status call; any thread; raises nothing.
std::optional<TFileVersion> RegularFileVersion(const std::string& path);

/// The version of an open file, `path` naming it in the error. Raises what OpenFileSize
/// raises.
TFileVersion OpenFileVersion(const TFileHandle& file, const std::string& path);

/// Full path of the running program. Raises EInOutError when it cannot be read.
std::string ExecutablePath();

/// Raises the process's soft limit of open descriptors to its hard limit (every connection
/// holds one) and returns the soft limit now in force.
std::uint64_t RaiseOpenFileLimit();

}  // namespace quenby
