#include "console/small_file_cache.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace quenby {

namespace {

// Reads exactly `size` bytes from the start of an open file; none when it holds fewer.
std::shared_ptr<const std::string> ReadExactly(const TFileHandle& file, std::int64_t size) {
  auto contents = std::make_shared<std::string>(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < contents->size()) {
    const ssize_t count = ::pread(file.Get(), contents->data() + done, contents->size() - done,
                                  static_cast<off_t>(done));
    if (count < 0 && errno == EINTR)
      continue;
    if (count <= 0)
      return nullptr;
    done += static_cast<std::size_t>(count);
  }
  return contents;
}

}  // namespace

TSmallFileCache::TContents TSmallFileCache::Find(const std::string& path,
                                                 const TFileVersion& version) const {
  if (version.Identity.Size > MaxFileSize)
    return nullptr;  // never kept: no need to look
  std::shared_lock<std::shared_mutex> guard(lock_);
  const auto found = entries_.find(path);
  if (found == entries_.end() || !(found->second.Version == version))
    return nullptr;
  return found->second.Contents;
}

TSmallFileCache::TContents TSmallFileCache::ReadAndKeep(const std::string& path,
                                                        const TFileHandle& file,
                                                        const TFileVersion& version,
                                                        std::chrono::system_clock::time_point now) {
  if (!MayKeep(version, now))
    return nullptr;
  TContents contents = ReadExactly(file, version.Identity.Size);
  if (contents != nullptr)
    Keep(path, version, contents);
  return contents;
}

bool TSmallFileCache::MayKeep(const TFileVersion& version,
                              std::chrono::system_clock::time_point now) {
  if (version.Identity.Size < 0 || version.Identity.Size > MaxFileSize)
    return false;
  const std::int64_t settled_before =
      std::chrono::duration_cast<std::chrono::nanoseconds>((now - SettleTime).time_since_epoch())
          .count();
  // A time in the future (a clock set back) never counts as settled.
  return version.Identity.ModifiedNanoseconds < settled_before &&
         version.ChangedNanoseconds < settled_before;
}

void TSmallFileCache::Keep(const std::string& path, const TFileVersion& version,
                           TContents contents) {
  std::unique_lock<std::shared_mutex> guard(lock_);
  if (const auto old = entries_.find(path); old != entries_.end()) {
    total_size_ -= old->second.Contents->size();
    entries_.erase(old);
  }
  // Which entries go matters little: a dropped file is read again on its next request.
  while (!entries_.empty() && total_size_ + contents->size() > MaxTotalSize) {
    total_size_ -= entries_.begin()->second.Contents->size();
    entries_.erase(entries_.begin());
  }
  total_size_ += contents->size();
  entries_.emplace(path, TEntry{version, std::move(contents)});
}

void TSmallFileCache::Clear() {
  std::unique_lock<std::shared_mutex> guard(lock_);
  entries_.clear();
  total_size_ = 0;
}

std::size_t TSmallFileCache::EntryCount() const {
  std::shared_lock<std::shared_mutex> guard(lock_);
  return entries_.size();
}

}  // namespace quenby
