#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "console/small_file_cache.h"
#include "util/file_system.h"

namespace quenby {

class THTTPServer;
class THTTPRequestInfo;
class THTTPResponseInfo;
class TISAPIRunner;
class TMimeTable;
class TPeerThread;

/// The settings the request handler reads, copied from the console at each start, so that peer
/// threads never read what the main thread may change.
struct THandlerSettings {
  std::string Root;
  std::string Index;
  std::vector<std::string> AliasLines;
  bool EnableLog = false;
  std::string LogFileName;
  /// Every method reaches the handler: modules see it, files answer 405 to all but
  /// FileMethods.
  bool AllMethods = false;
  /// A folder without its index document is answered with a listing instead of a 404.
  bool ListFolders = false;
  /// GET and HEAD of a file carry validators and honour conditional and range requests.
  bool HTTPCache = false;
};

/// The methods a plain file answers, as the 405 reply's "Allow" value.
inline constexpr std::string_view FileMethods = "GET, HEAD, POST";

/// Body of a request for a module that does not exist.
inline constexpr std::string_view ScriptNotFoundPage = "<H1><center>Script not found</center></H1>";

/// Appends `text` to the activity log `log_file` when `enabled`; otherwise does nothing. Raises
/// EInOutError when the entry cannot be written. Any thread.
void WriteActivity(std::string_view text, bool enabled, const std::string& log_file);

/// The error page (404, 405) around a status text.
std::string ErrorPage(std::string_view status_text);

/// The console's answer to every request the HTTP server hands to OnCommandGet: routes the path and
/// runs a module, answers 404 (or 405 to a method a file does not take), answers HEAD with headers
/// only, or sends the file. Owned by the
/// console; the server, runner and MIME table are the console's and outlive it.
/// HTTPServerCommandGet runs on peer threads, many at once; settings are replaced only by the main
/// thread, and each request works on the copy it found at its start.
class TRequestHandler {
 public:
  TRequestHandler(THTTPServer& server, TISAPIRunner& runner, TMimeTable& mime_types);

  /// Replaces the settings copy that requests from now on use. Main thread, before a start.
  void SetSettings(THandlerSettings settings);
  /// The settings copy in use. Any thread.
  std::shared_ptr<const THandlerSettings> Settings() const;

  /// The OnCommandGet handler. Raises what routing, the log or the file system raise; the server
  /// turns that into its error reply.
  void HTTPServerCommandGet(TPeerThread& AThread, THTTPRequestInfo& ARequestInfo,
                            THTTPResponseInfo& AResponseInfo);
  /// The type the console's MIME table gives for the file's extension ("application/octet-stream"
  /// when unknown). Any thread.
  std::string FileContentType(const std::string& file_name);
  /// Writes `text` to the activity log of the current settings copy when logging is on.
  void LogActivity(std::string_view text);
  /// The extension host's OnLogServerMessage: logs `AMessage` and does nothing else.
  void ISAPIRunnerLogServerMessage(TISAPIRunner& Sender, THTTPRequestInfo& RequestInfo,
                                   THTTPResponseInfo& ResponseInfo, const std::string& AMessage);

 private:
  void RunModule(const std::string& module_path, const std::string& directory,
                 const std::string& path_info, TPeerThread& thread, THTTPRequestInfo& request,
                 THTTPResponseInfo& response);
  void AnswerHead(const std::string& file_path, THTTPResponseInfo& response);
  /// Answers a request for a folder with its listing; false when the path names no folder
  /// that may be listed.
  bool AnswerListing(const THandlerSettings& settings, TPeerThread& thread,
                     const THTTPRequestInfo& request, THTTPResponseInfo& response);
  static void AnswerMethodNotAllowed(THTTPResponseInfo& response);
  void SendFile(const THandlerSettings& settings, const std::string& file_path,
                const TFileVersion& version, TPeerThread& thread, THTTPResponseInfo& response);
  void SendValidatedFile(const THandlerSettings& settings, const std::string& file_path,
                         TPeerThread& thread, THTTPRequestInfo& request,
                         THTTPResponseInfo& response);
  void LogFileSent(const THandlerSettings& settings, const std::string& file_path,
                   TPeerThread& thread, std::int64_t sent, std::int64_t size);

  THTTPServer& server_;
  TISAPIRunner& runner_;
  TMimeTable& mime_types_;
  TSmallFileCache small_files_;
  mutable std::mutex settings_lock_;  // guards settings_ (the pointer, not the copy)
  std::shared_ptr<const THandlerSettings> settings_;
};

}  // namespace quenby
