#include "util/ini_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "util/file_handle.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr unsigned NewFileMode = 0666;  // narrowed by the process's umask
constexpr unsigned PermissionBits = 07777;
constexpr int TempNameAttempts = 100;

// Returns 0 with the file's text (empty for a missing file), or the errno of the failure.
int ReadWholeFile(const std::string& file_name, std::string& text) {
  text.clear();
  TFileHandle file = OpenFile(file_name, O_RDONLY);
  if (!file.IsOpen())
    return (errno == ENOENT || errno == ENOTDIR) ? 0 : errno;
  return ReadAll(file.Get(), text);
}

// The file a rename must replace: the target of a symbolic link rather than the link.
std::string ResolvedTarget(const std::string& file_name) {
  char resolved[PATH_MAX];
  return ::realpath(file_name.c_str(), resolved) != nullptr ? std::string(resolved) : file_name;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates a new, empty temporary file beside `target`; sets `temp_name`.
TFileHandle CreateTempBeside(const std::string& target, std::string& temp_name) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
    temp_name =
        Format("%s.%d-%u.tmp", target.c_str(), static_cast<int>(::getpid()), counter.fetch_add(1));
    TFileHandle file = OpenFile(temp_name, O_WRONLY | O_CREAT | O_EXCL, NewFileMode);
    if (file.IsOpen() || errno != EEXIST)
      return file;
  }
  errno = EEXIST;
  return TFileHandle();
}

// Fills and closes the temporary file; returns 0 or the errno of the first failure.
int FillTemp(TFileHandle& temp, const std::string& target, const std::string& text) {
  struct stat original {};
  if (::stat(target.c_str(), &original) == 0 &&
      ::fchmod(temp.Get(), original.st_mode & PermissionBits) != 0) {
    return errno;
  }
  if (const int error = WriteAll(temp.Get(), text); error != 0)
    return error;
  if (::fsync(temp.Get()) != 0)
    return errno;
  return temp.Close();
}

// Makes the rename itself durable; a folder that refuses this loses nothing, so errors pass.
void SyncFolder(const std::string& folder) {
  TFileHandle handle = OpenFile(folder, O_RDONLY | O_DIRECTORY);
  if (handle.IsOpen())
    ::fsync(handle.Get());
}

}  // namespace

TIniFile::TIniFile(std::string file_name) : file_name_(std::move(file_name)) {}

std::vector<std::string> TIniFile::ReadSections() const {
  return Read().ReadSections();
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  return Read().ReadSection(section);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key) const {
  return Read().ReadString(section, key);
}

void TIniFile::EraseSection(std::string_view section) {
  Update([section](TIniDocument& document) { document.EraseSection(section); });
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Update([&](TIniDocument& document) { document.WriteString(section, key, value); });
}

TIniDocument TIniFile::Read() const {
  std::string text;
  if (const int error = ReadWholeFile(file_name_, text); error != 0) {
    errno = error;
    RaiseLastOSError("Unable to read " + file_name_);
  }
  return TIniDocument(text);
}

void TIniFile::Update(const std::function<void(TIniDocument&)>& change) {
  std::string text;
  if (const int error = ReadWholeFile(file_name_, text); error != 0)
    RaiseUnableToWrite(error);
  TIniDocument document(text);
  change(document);
  std::string updated = document.Text();
  if (updated != text)
    WriteAtomically(updated);
}

void TIniFile::WriteAtomically(const std::string& text) const {
  const std::string target = ResolvedTarget(file_name_);
  std::string temp_name;
  TFileHandle temp = CreateTempBeside(target, temp_name);
  if (!temp.IsOpen())
    RaiseUnableToWrite(errno);
  int error = FillTemp(temp, target, text);
  if (error == 0 && ::rename(temp_name.c_str(), target.c_str()) != 0)
    error = errno;
  if (error != 0) {
    temp.Close();
    ::unlink(temp_name.c_str());
    RaiseUnableToWrite(error);
  }
  SyncFolder(FolderOf(target));
}

void TIniFile::RaiseUnableToWrite(int error_code) const {
  throw EInOutError(Format("Unable to write to %s", file_name_.c_str()), error_code);
}

}  // namespace quenby
