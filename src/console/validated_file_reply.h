#pragma once

#include <cstdint>
#include <string>

namespace quenby {

class THTTPServer;
class THTTPRequestInfo;
class THTTPResponseInfo;
class TPeerThread;

/// What a file reply carried: the body bytes sent and the file's size.
struct TFileReplyBytes {
  std::int64_t Sent = 0;
  std::int64_t Size = 0;
};

/// Answers a GET or HEAD of the regular file `file_path` with its validators (ETag,
/// Last-Modified, Accept-Ranges) and honours If-None-Match, If-Modified-Since, Range and
/// If-Range: 200, 304, 206 or 416. HEAD gets the same head without a body. Runs on the
/// request's peer thread; raises what opening the file or the connection raise.
TFileReplyBytes AnswerValidatedFile(THTTPServer& server, TPeerThread& thread,
                                    const THTTPRequestInfo& request, THTTPResponseInfo& response,
                                    const std::string& file_path, const std::string& content_type);

}  // namespace quenby
