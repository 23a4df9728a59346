#include "console/request_handler.h"

#include <cstdint>

#include "console/folder_listing.h"
#include "console/routing.h"
#include "console/validated_file_reply.h"
#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "http/http_server.h"
#include "http/mime_table.h"
#include "http/status_text.h"
#include "isapi/isapi_runner.h"
#include "net/peer_thread.h"
#include "net/tcp_connection.h"
#include "util/activity_log.h"
#include "util/file_system.h"
#include "util/text.h"

namespace quenby {

namespace {

constexpr std::string_view HeadMethod = "HEAD";
constexpr std::string_view GetMethod = "GET";
constexpr std::string_view PostMethod = "POST";
constexpr std::string_view AllowHeader = "Allow";

bool IsFileMethod(const std::string& method) {
  return SameText(method, GetMethod) || SameText(method, HeadMethod) ||
         SameText(method, PostMethod);
}

struct TPeerAddress {
  std::string IP;
  int Port = 0;
};

TPeerAddress PeerAddress(TPeerThread& thread) {
  TPeerAddress address;
  TTCPServerConnection* connection = thread.Connection();
  TSocketHandle* binding = connection != nullptr ? connection->SocketBinding() : nullptr;
  if (binding != nullptr) {
    address.IP = binding->RemoteIP;
    address.Port = binding->RemotePort;
  }
  return address;
}

}  // namespace

void WriteActivity(std::string_view text, bool enabled, const std::string& log_file) {
  if (enabled) {
    AppendLogEntry(text, log_file);
  }
}

std::string ErrorPage(std::string_view status_text) {
  std::string page = "<html><head><title>Error</title></head><body><h1>";
  page += status_text;
  page += "</h1></body></html>";
  return page;
}

TRequestHandler::TRequestHandler(THTTPServer& server, TISAPIRunner& runner, TMimeTable& mime_types)
    : server_(server),
      runner_(runner),
      mime_types_(mime_types),
      settings_(std::make_shared<const THandlerSettings>()) {}

void TRequestHandler::SetSettings(THandlerSettings settings) {
  auto copy = std::make_shared<const THandlerSettings>(std::move(settings));
  std::lock_guard<std::mutex> guard(settings_lock_);
  settings_ = std::move(copy);
  small_files_.Clear();  // files of the last run's folders need not stay in memory
}

std::shared_ptr<const THandlerSettings> TRequestHandler::Settings() const {
  std::lock_guard<std::mutex> guard(settings_lock_);
  return settings_;
}

void TRequestHandler::HTTPServerCommandGet(TPeerThread& AThread, THTTPRequestInfo& ARequestInfo,
                                           THTTPResponseInfo& AResponseInfo) {
  const std::shared_ptr<const THandlerSettings> settings = Settings();
  if (settings->EnableLog) {  // no formatting work when nothing is written
    const TPeerAddress peer = PeerAddress(AThread);
    AppendLogEntry(Format("Command %s %s received from %s:%d", ARequestInfo.Method.c_str(),
                          ARequestInfo.Path.c_str(), peer.IP.c_str(), peer.Port),
                   settings->LogFileName);
  }
  const TRouteResult route =
      RouteRequest(ARequestInfo.Path, settings->Root, settings->Index, settings->AliasLines);
  if (!route.ModulePath.empty()) {
    RunModule(route.ModulePath, route.Directory, route.PathInfo, AThread, ARequestInfo,
              AResponseInfo);
    return;
  }
  if (settings->AllMethods && !IsFileMethod(ARequestInfo.Method)) {
    AnswerMethodNotAllowed(AResponseInfo);
    return;
  }
  const std::optional<TFileVersion> regular =
      route.RegularFile ? route.RegularFile : RegularFileVersion(route.FilePath);
  if (!regular) {
    if (settings->ListFolders && AnswerListing(*settings, AThread, ARequestInfo, AResponseInfo))
      return;
    AResponseInfo.SetStatusCode(StatusNotFound);
    AResponseInfo.BodyText = ErrorPage(AResponseInfo.StatusText);
    return;
  }
  if (settings->HTTPCache &&
      (SameText(ARequestInfo.Method, GetMethod) || SameText(ARequestInfo.Method, HeadMethod))) {
    SendValidatedFile(*settings, route.FilePath, AThread, ARequestInfo, AResponseInfo);
    return;
  }
  if (SameText(ARequestInfo.Method, HeadMethod)) {
    AnswerHead(route.FilePath, AResponseInfo);
    return;
  }
  SendFile(*settings, route.FilePath, *regular, AThread, AResponseInfo);
}

void TRequestHandler::RunModule(const std::string& module_path, const std::string& directory,
                                const std::string& path_info, TPeerThread& thread,
                                THTTPRequestInfo& request, THTTPResponseInfo& response) {
  if (!IsRegularFile(module_path)) {
    response.BodyText = std::string(ScriptNotFoundPage);
    response.SetStatusCode(StatusNotFound);
    return;
  }
  // The module stays cached: it is dropped only when the server stops.
  constexpr bool DropModuleAfterUse = false;
  runner_.RunExtension(module_path, &thread, &request, &response, directory, DropModuleAfterUse,
                       path_info);
}

void TRequestHandler::AnswerHead(const std::string& file_path, THTTPResponseInfo& response) {
  // Held open while the size is read, so the size is that of the file that was found.
  const TFileHandle file = OpenForReading(file_path);
  response.SetStatusCode(StatusOK);
  response.ContentType = FileContentType(file_path);
  // A size the record cannot hold is not announced (as for GET) rather than cut short.
  const std::int64_t size = OpenFileSize(file, file_path);
  response.SetContentLength(CanAnnounceLength(size) ? static_cast<std::int32_t>(size) : -1);
  if (!CanAnnounceLength(size))
    response.SetCloseAfterReply(true);  // a length it cannot announce ends its connection
}

bool TRequestHandler::AnswerListing(const THandlerSettings& settings, TPeerThread& thread,
                                    const THTTPRequestInfo& request, THTTPResponseInfo& response) {
  const std::optional<TListedFolder> folder =
      ResolveFolderPath(settings.Root, request.Path, settings.AliasLines);
  if (!folder)
    return false;
  std::string page = FolderListingPage(request.Path, *folder, ListingEntries(*folder));
  if (settings.EnableLog) {
    const TPeerAddress peer = PeerAddress(thread);
    AppendLogEntry(
        Format("Listing folder %s to %s:%d", folder->Path.c_str(), peer.IP.c_str(), peer.Port),
        settings.LogFileName);
  }
  response.SetStatusCode(StatusOK);
  response.ContentType = std::string(FolderListingType);
  response.SetContentLength(static_cast<std::int32_t>(page.size()));
  if (!SameText(request.Method, HeadMethod))
    response.BodyText = std::move(page);
  return true;
}

void TRequestHandler::AnswerMethodNotAllowed(THTTPResponseInfo& response) {
  response.SetStatusCode(StatusMethodNotAllowed);
  response.CustomHeaders().SetValue(AllowHeader, FileMethods);
  response.BodyText = ErrorPage(response.StatusText);
  // As after a 404: the client asked for something this server does not do with a file.
  response.SetCloseAfterReply(true);
}

void TRequestHandler::SendFile(const THandlerSettings& settings, const std::string& file_path,
                               const TFileVersion& version, TPeerThread& thread,
                               THTTPResponseInfo& response) {
  // Announced by its extension, as the engine's own file reply does, instead of the reply's
  // default "text/html".
  response.ContentType = server_.MimeTypes().TypeForFile(file_path);
  // `version` was found while routing: kept contents of that version are the file as it is.
  TSmallFileCache::TContents contents = small_files_.Find(file_path, version);
  if (contents == nullptr) {
    // Opened and measured before the send: a failure here still gets an error reply, while
    // one after the header has gone out can only end the connection. The file stays open
    // until it is sent, so the bytes sent are those of the file measured.
    TFileHandle opened = OpenForReading(file_path);
    const TFileVersion opened_version = OpenFileVersion(opened, file_path);
    contents = small_files_.ReadAndKeep(file_path, opened, opened_version);
    if (contents == nullptr) {
      const std::int64_t size = opened_version.Identity.Size;
      TFileStream file(std::move(opened), file_path);
      const auto sent = server_.SendFileRangeReply(thread, response, file, 0, size);
      LogFileSent(settings, file_path, thread, sent, size);
      return;
    }
  }
  const auto sent = server_.SendBytesReply(thread, response, *contents);
  LogFileSent(settings, file_path, thread, sent, static_cast<std::int64_t>(contents->size()));
}

void TRequestHandler::SendValidatedFile(const THandlerSettings& settings,
                                        const std::string& file_path, TPeerThread& thread,
                                        THTTPRequestInfo& request, THTTPResponseInfo& response) {
  const TFileReplyBytes bytes = AnswerValidatedFile(server_, thread, request, response, file_path,
                                                    FileContentType(file_path));
  if (!SameText(request.Method, HeadMethod))  // HEAD was never logged as a file sent
    LogFileSent(settings, file_path, thread, bytes.Sent, bytes.Size);
}

void TRequestHandler::LogFileSent(const THandlerSettings& settings, const std::string& file_path,
                                  TPeerThread& thread, std::int64_t sent, std::int64_t size) {
  if (settings.EnableLog) {
    const TPeerAddress peer = PeerAddress(thread);
    AppendLogEntry(Format("Serving file %s (%lld bytes / %lld bytes sent) to %s:%d",
                          file_path.c_str(), static_cast<long long>(sent),
                          static_cast<long long>(size), peer.IP.c_str(), peer.Port),
                   settings.LogFileName);
  }
}

std::string TRequestHandler::FileContentType(const std::string& file_name) {
  return mime_types_.TypeForFile(file_name);
}

void TRequestHandler::LogActivity(std::string_view text) {
  const std::shared_ptr<const THandlerSettings> settings = Settings();
  WriteActivity(text, settings->EnableLog, settings->LogFileName);
}

void TRequestHandler::ISAPIRunnerLogServerMessage(TISAPIRunner& /*Sender*/,
                                                  THTTPRequestInfo& /*RequestInfo*/,
                                                  THTTPResponseInfo& /*ResponseInfo*/,
                                                  const std::string& AMessage) {
  LogActivity(AMessage);
}

}  // namespace quenby
