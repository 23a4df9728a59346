#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "util/file_handle.h"
#include "util/file_system.h"

namespace quenby {

/// The contents of small files already served, so that serving one again costs no open, read
/// or close. An entry answers only for the version of the file it was read from: the caller
/// looks the file up with the version it has just found on disk, and any change to the file
/// gives a new version. A file is kept only once it has settled (its last change lies
/// `SettleTime` back), so a change made within the file system's time granularity of the
/// reading cannot leave the same version with other contents. Bounded in entry size and in
/// total; any thread.
class TSmallFileCache {
 public:
  /// Largest file kept, in bytes.
  static constexpr std::int64_t MaxFileSize = 32 * 1024;
  /// Bytes of contents kept at most; entries are dropped to make room for a new one.
  static constexpr std::size_t MaxTotalSize = 4 * 1024 * 1024;
  /// How long a file must have stayed unchanged before it is kept.
  static constexpr std::chrono::seconds SettleTime{2};

  using TContents = std::shared_ptr<const std::string>;

  /// The kept contents of `path` at `version`; null when none are kept for that version.
  TContents Find(const std::string& path, const TFileVersion& version) const;

  /// The contents of an open file at `version` (taken from that open file), read and kept
  /// when the file may be kept; null, with nothing read, when it may not be kept, or when it
  /// could not be read whole (it shrank, say). `now` is the wall-clock time of the question.
  TContents ReadAndKeep(
      const std::string& path, const TFileHandle& file, const TFileVersion& version,
      std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

  /// Drops every entry.
  void Clear();

  std::size_t EntryCount() const;

 private:
  struct TEntry {
    TFileVersion Version;
    TContents Contents;
  };

  static bool MayKeep(const TFileVersion& version, std::chrono::system_clock::time_point now);
  void Keep(const std::string& path, const TFileVersion& version, TContents contents);

  mutable std::shared_mutex lock_;
  std::unordered_map<std::string, TEntry> entries_;
  std::size_t total_size_ = 0;
};

}  // namespace quenby
