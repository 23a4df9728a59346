// Compiled from the SDK header alone: proves it is valid C++ and that its structures have
// the published field order and the LP64 layout the host and modules agree on.
#include <quenby/isapi.h>

#include <cerrno>
#include <cstddef>
#include <type_traits>

#include <gtest/gtest.h>

namespace {

struct FieldOffset {
  const char* name;
  std::size_t actual;
  std::size_t expected;
};

void ExpectOffsets(std::initializer_list<FieldOffset> fields) {
  for (const FieldOffset& field : fields) {
    EXPECT_EQ(field.actual, field.expected) << field.name;
  }
}

#define QUENBY_FIELD(type, field, expected) \
  { #field, offsetof(type, field), expected }

TEST(SdkLayout, BasicTypesHaveTheirPublishedWidths) {
  EXPECT_EQ(sizeof(DWORD), 4u);
  EXPECT_EQ(sizeof(BOOL), 4u);
  EXPECT_EQ(sizeof(WORD), 2u);
  EXPECT_TRUE(std::is_unsigned_v<DWORD>);
  EXPECT_TRUE(std::is_signed_v<BOOL>);
  EXPECT_EQ(sizeof(HCONN), sizeof(void*));
  EXPECT_EQ(sizeof(HANDLE), sizeof(void*));
  EXPECT_TRUE((std::is_same_v<LPSTR, char*>));
  EXPECT_TRUE((std::is_same_v<LPBYTE, unsigned char*>));
  EXPECT_TRUE((std::is_same_v<LPDWORD, DWORD*>));
  EXPECT_EQ(TRUE, 1);
  EXPECT_EQ(FALSE, 0);
}

TEST(SdkLayout, ControlBlockKeepsPublishedOrderOnLp64) {
  ExpectOffsets({
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, cbSize, 0),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, dwVersion, 4),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, ConnID, 8),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, dwHttpStatusCode, 16),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, lpszLogData, 20),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, lpszMethod, 104),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, lpszQueryString, 112),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, lpszPathInfo, 120),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, lpszPathTranslated, 128),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, cbTotalBytes, 136),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, cbAvailable, 140),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, lpbData, 144),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, lpszContentType, 152),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, GetServerVariable, 160),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, WriteClient, 168),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, ReadClient, 176),
      QUENBY_FIELD(EXTENSION_CONTROL_BLOCK, ServerSupportFunction, 184),
  });
  EXPECT_EQ(sizeof(EXTENSION_CONTROL_BLOCK), 192u);
  EXPECT_EQ(sizeof(EXTENSION_CONTROL_BLOCK::lpszLogData), 80u);
  EXPECT_EQ(HSE_LOG_BUFFER_LEN, 80);
}

TEST(SdkLayout, CallbacksHaveThePublishedSignatures) {
  using Block = EXTENSION_CONTROL_BLOCK;
  EXPECT_TRUE((
      std::is_same_v<decltype(Block::GetServerVariable), BOOL (*)(HCONN, LPSTR, LPVOID, LPDWORD)>));
  EXPECT_TRUE(
      (std::is_same_v<decltype(Block::WriteClient), BOOL (*)(HCONN, LPVOID, LPDWORD, DWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(Block::ReadClient), BOOL (*)(HCONN, LPVOID, LPDWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(Block::ServerSupportFunction),
                              BOOL (*)(HCONN, DWORD, LPVOID, LPDWORD, LPDWORD)>));
  EXPECT_TRUE((std::is_same_v<PFN_GETEXTENSIONVERSION, BOOL (*)(HSE_VERSION_INFO*)>));
  EXPECT_TRUE((std::is_same_v<PFN_HTTPEXTENSIONPROC, DWORD (*)(EXTENSION_CONTROL_BLOCK*)>));
  EXPECT_TRUE((std::is_same_v<PFN_TERMINATEEXTENSION, BOOL (*)(DWORD)>));
}

TEST(SdkLayout, SupportStructuresKeepPublishedOrderOnLp64) {
  ExpectOffsets({
      QUENBY_FIELD(HSE_VERSION_INFO, dwExtensionVersion, 0),
      QUENBY_FIELD(HSE_VERSION_INFO, lpszExtensionDesc, 4),
      QUENBY_FIELD(HSE_SEND_HEADER_EX_INFO, pszStatus, 0),
      QUENBY_FIELD(HSE_SEND_HEADER_EX_INFO, pszHeader, 8),
      QUENBY_FIELD(HSE_SEND_HEADER_EX_INFO, cchStatus, 16),
      QUENBY_FIELD(HSE_SEND_HEADER_EX_INFO, cchHeader, 20),
      QUENBY_FIELD(HSE_SEND_HEADER_EX_INFO, fKeepConn, 24),
      QUENBY_FIELD(HSE_TF_INFO, pfnHseIO, 0),
      QUENBY_FIELD(HSE_TF_INFO, pContext, 8),
      QUENBY_FIELD(HSE_TF_INFO, hFile, 16),
      QUENBY_FIELD(HSE_TF_INFO, pszStatusCode, 24),
      QUENBY_FIELD(HSE_TF_INFO, BytesToWrite, 32),
      QUENBY_FIELD(HSE_TF_INFO, Offset, 36),
      QUENBY_FIELD(HSE_TF_INFO, pHead, 40),
      QUENBY_FIELD(HSE_TF_INFO, HeadLength, 48),
      QUENBY_FIELD(HSE_TF_INFO, pTail, 56),
      QUENBY_FIELD(HSE_TF_INFO, TailLength, 64),
      QUENBY_FIELD(HSE_TF_INFO, dwFlags, 68),
      QUENBY_FIELD(HSE_URL_MAPEX_INFO, lpszPath, 0),
      QUENBY_FIELD(HSE_URL_MAPEX_INFO, dwFlags, 260),
      QUENBY_FIELD(HSE_URL_MAPEX_INFO, cchMatchingPrefix, 264),
      QUENBY_FIELD(HSE_URL_MAPEX_INFO, cchMatchingURL, 268),
      QUENBY_FIELD(HSE_URL_MAPEX_INFO, dwReserved1, 272),
      QUENBY_FIELD(HSE_URL_MAPEX_INFO, dwReserved2, 276),
  });
  EXPECT_EQ(sizeof(HSE_VERSION_INFO), 260u);
  EXPECT_EQ(sizeof(HSE_SEND_HEADER_EX_INFO), 32u);
  EXPECT_EQ(sizeof(HSE_TF_INFO), 72u);
  EXPECT_EQ(sizeof(HSE_URL_MAPEX_INFO), 280u);
  EXPECT_EQ(MAX_PATH, 260);
  EXPECT_EQ(HSE_MAX_EXT_DLL_NAME_LEN, 256);
}

TEST(SdkLayout, StatusRequestAndErrorCodesHavePublishedValues) {
  EXPECT_EQ(HSE_STATUS_SUCCESS, 1);
  EXPECT_EQ(HSE_STATUS_SUCCESS_AND_KEEP_CONN, 2);
  EXPECT_EQ(HSE_STATUS_PENDING, 3);
  EXPECT_EQ(HSE_STATUS_ERROR, 4);
  const int requests[][2] = {
      {HSE_REQ_SEND_URL_REDIRECT_RESP, 1},     {HSE_REQ_SEND_URL, 2},
      {HSE_REQ_SEND_RESPONSE_HEADER, 3},       {HSE_REQ_DONE_WITH_SESSION, 4},
      {HSE_REQ_MAP_URL_TO_PATH, 1001},         {HSE_APPEND_LOG_PARAMETER, 1003},
      {HSE_REQ_TRANSMIT_FILE, 1006},           {HSE_REQ_IS_KEEP_CONN, 1008},
      {HSE_REQ_MAP_URL_TO_PATH_EX, 1012},      {HSE_REQ_ABORTIVE_CLOSE, 1014},
      {HSE_REQ_SEND_RESPONSE_HEADER_EX, 1016}, {HSE_REQ_EXTENSION_TRIGGER, 1020},
  };
  for (const auto& request : requests) {
    EXPECT_EQ(request[0], request[1]);
  }
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, 122);
  EXPECT_EQ(HSE_VERSION, 0x00020000u);
  EXPECT_EQ(MAKELONG(0x1234, 0xABCD), static_cast<LONG>(0xABCD1234u));
}

TEST(SdkLayout, LastErrorIsErrnoOfTheCallingThread) {
  errno = ERROR_INSUFFICIENT_BUFFER;
  EXPECT_EQ(GetLastError(), 122u);
  SetLastError(4242);
  EXPECT_EQ(errno, 4242);
  EXPECT_EQ(GetLastError(), 4242u);
}

}  // namespace
