#include "console/validated_file_reply.h"

#include <sys/stat.h>

#include <ctime>

#include "console/file_validators.h"
#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "http/http_server.h"
#include "http/status_text.h"
#include "util/exception.h"
#include "util/stream.h"
#include "util/text.h"

namespace quenby {
namespace {

TFileRequestConditions ConditionsOf(const THTTPRequestInfo& request) {
  TFileRequestConditions conditions;
  conditions.IfNoneMatch = request.Headers.ValueByName("If-None-Match");
  conditions.IfModifiedSince = request.Headers.ValueByName("If-Modified-Since");
  conditions.Range = request.Headers.ValueByName("Range");
  conditions.IfRange = request.Headers.ValueByName("If-Range");
  return conditions;
}

// Taken from the open file, so that the validators describe the bytes that are sent.
TFileValidators ValidatorsOf(const TFileStream& file, const std::string& file_path) {
  struct stat info {};
  if (::fstat(file.Handle(), &info) != 0)
    RaiseLastOSError("Cannot read the attributes of \"" + file_path + "\"");
  return MakeFileValidators(static_cast<std::int64_t>(info.st_size),
                            static_cast<std::int64_t>(info.st_mtim.tv_sec),
                            static_cast<std::int64_t>(info.st_mtim.tv_nsec));
}

void SetStatus(THTTPResponseInfo& response, int code, std::string_view text) {
  response.SetStatusCode(code);
  response.StatusText = std::string(text);
}

void AnnounceLength(THTTPResponseInfo& response, std::int64_t length) {
  response.SetContentLength(CanAnnounceLength(length) ? static_cast<std::int32_t>(length) : -1);
}

}  // namespace

TFileReplyBytes AnswerValidatedFile(THTTPServer& server, TPeerThread& thread,
                                    const THTTPRequestInfo& request, THTTPResponseInfo& response,
                                    const std::string& file_path, const std::string& content_type) {
  TFileStream file(file_path, TFileStream::Mode::Read);
  const TFileValidators validators = ValidatorsOf(file, file_path);
  const std::int64_t size = file.Size();
  const TFileReplyPlan plan = PlanFileReply(ConditionsOf(request), validators, size,
                                            static_cast<std::int64_t>(std::time(nullptr)));
  THeaderList& headers = response.CustomHeaders();
  headers.SetValue("Accept-Ranges", "bytes");
  headers.SetValue("ETag", validators.ETag);
  headers.SetValue("Last-Modified", validators.LastModified);
  response.ContentType = content_type;
  const bool head = SameText(request.Method, "HEAD");
  TFileReplyBytes bytes{0, size};
  switch (plan.Kind) {
    case TFileReplyKind::NotModified:
      SetStatus(response, StatusNotModified, "Not Modified");
      return bytes;
    case TFileReplyKind::Unsatisfiable:
      SetStatus(response, StatusRangeNotSatisfiable, "Range Not Satisfiable");
      headers.SetValue("Content-Range", ContentRangeValue(plan, size));
      response.SetContentLength(0);
      return bytes;
    case TFileReplyKind::Partial:
      SetStatus(response, StatusPartialContent, "Partial Content");
      headers.SetValue("Content-Range", ContentRangeValue(plan, size));
      break;
    case TFileReplyKind::Whole:
      response.SetStatusCode(StatusOK);
      break;
  }
  const std::int64_t first = plan.Kind == TFileReplyKind::Partial ? plan.First : 0;
  const std::int64_t length = plan.Kind == TFileReplyKind::Partial ? plan.Length : size;
  if (head) {
    AnnounceLength(response, length);
    return bytes;
  }
  bytes.Sent = server.SendFileRangeReply(thread, response, file, first, length);
  return bytes;
}

}  // namespace quenby
