#include "http/mime_web_types.h"

namespace quenby {
namespace {

// The built-in table predates these formats: without a registry file a browser would get
// "image/svg-xml" for a drawing and no type at all for scripts, WebAssembly and fonts.
constexpr std::array<std::string_view, WebMimeRegistryLineCount> WebLines = {
    "text/html html htm",
    "text/javascript js mjs",
    "text/css css",
    "text/plain txt",
    "application/json json map",
    "application/xml xml",
    "application/wasm wasm",
    "application/pdf pdf",
    "application/zip zip",
    "image/svg+xml svg",
    "image/png png",
    "image/webp webp",
    "image/avif avif",
    "image/vnd.microsoft.icon ico",
    "font/woff woff",
    "font/woff2 woff2",
    "video/mp4 mp4",
    "video/webm webm",
    "audio/ogg ogg",
    "audio/mpeg mp3",
};

}  // namespace

const std::array<std::string_view, WebMimeRegistryLineCount>& WebMimeRegistryLines() {
  return WebLines;
}

}  // namespace quenby
