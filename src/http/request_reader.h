#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/header_list.h"
#include "http/http_request_info.h"
#include "net/tcp_connection.h"
#include "util/stream.h"

namespace quenby {

/// Most header lines read for one request; more raise EHTTPTooManyHeaderLines, so that a
/// client cannot make the server hold an endless header block.
constexpr int MaxRequestHeaderLines = 1000;
/// Most bytes of header lines (without their line ends) read for one request; more raise
/// EHTTPHeaderBlockTooLong. Parsing multiplies the size of some lines (every ";" of a
/// "Cookie" line becomes a cookie object), so the block must stay small.
constexpr std::size_t MaxRequestHeaderBytes = 65536;
/// Bytes of a body read in one piece, so memory grows with what arrives, not with what a
/// "Content-Length" line promises.
constexpr std::int64_t RequestBodyChunkSize = 65536;

/// The three parts of a request line.
struct TRequestLine {
  /// Upper-cased.
  std::string Method;
  /// May contain spaces; empty when the line had one space only.
  std::string Target;
  std::string Version;
};

/// Splits a request line: the version after the last space, the method before the first
/// space of the rest, the target between. False (parts untouched) without any space.
bool SplitRequestLine(std::string_view line, TRequestLine& parts);

/// True when `method` is a non-empty HTTP token: letters, digits and !#$%&'*+-.^_`|~ only, so
/// no control byte, space, separator or byte above 127.
bool IsMethodToken(std::string_view method);

/// Reads header lines into `headers` (emptied first) up to and including the first empty
/// line, which is not stored; a line beginning with ".." loses its first dot. Raises the
/// connection's errors, EHTTPTooManyHeaderLines beyond MaxRequestHeaderLines lines and
/// EHTTPHeaderBlockTooLong beyond MaxRequestHeaderBytes bytes.
void ReadHeaderLines(TTCPConnection& connection, THeaderList& headers);

/// Reads exactly `length` bytes into `stream`, piece by piece; raises the connection's error
/// when the peer closes first (the stream keeps what arrived).
void ReadBodyBytes(TTCPConnection& connection, TStream& stream, std::int64_t length);

/// Fills the request from its target and its parsed headers: QueryText and ParamText (after
/// any PostedText), ParamList when `parse_params` is set, ServerCookies from the "Cookie"
/// lines, Path (percent-decoded, except the parameter part), Host from an absolute target
/// when none was sent, and the Basic credentials. Raises EHTTPUnsupportedAuthorisationScheme
/// and EDecoderError from the "Authorization" header.
void SplitRequestTarget(THTTPRequestInfo& request, const std::string& target, bool parse_params);

}  // namespace quenby
