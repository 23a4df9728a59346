/*
 * Quenby module SDK: the published ISAPI extension declarations for LP64 Linux.
 *
 * A module is an ELF shared object named "*.dll" that exports GetExtensionVersion and
 * HttpExtensionProc (TerminateExtension is optional) with C linkage. This header is
 * self-contained plain C (C99, also valid C++); a module needs nothing else from Quenby.
 *
 * Platform notes:
 *  - DWORD is 32 bits, pointers 64 bits; structures use natural C alignment and keep the
 *    published field order, so cbSize of the control block is sizeof of this platform.
 *  - HANDLE in HSE_TF_INFO carries a POSIX file descriptor, see HSE_HANDLE_FROM_FD.
 *  - The last-error value is errno of the calling thread (GetLastError/SetLastError).
 *  - Exported entry points need default visibility: declare them with ISAPI_EXPORT, or
 *    simply define them after including this header, whose prototypes carry it.
 */
#ifndef QUENBY_ISAPI_H
#define QUENBY_ISAPI_H

#include <errno.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Basic types ------------------------------------------------------------------ */

typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef uint16_t WORD;
typedef int32_t LONG;
typedef unsigned char BYTE;
typedef char CHAR;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef void* HANDLE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef BOOL* LPBOOL;

/* Identifies one request towards the server's callbacks; opaque to the module. */
typedef LPVOID HCONN;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Calling-convention marker of the published prototypes; empty on this platform. */
#ifndef WINAPI
#define WINAPI
#endif

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

#ifndef MAKELONG
/* Packs two 16-bit words into 32 bits: low word first, high word second. */
#define MAKELONG(low, high) ((LONG)(((WORD)(low)) | (((DWORD)((WORD)(high))) << 16)))
#endif

/* ---- Versions, sizes, status codes ----------------------------------------------- */

#define HSE_VERSION_MAJOR 2
#define HSE_VERSION_MINOR 0
#define HSE_VERSION ((DWORD)MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR))

#define HSE_LOG_BUFFER_LEN 80
#define HSE_MAX_EXT_DLL_NAME_LEN 256

/* Results of HttpExtensionProc. */
#define HSE_STATUS_SUCCESS 1
#define HSE_STATUS_SUCCESS_AND_KEEP_CONN 2
#define HSE_STATUS_PENDING 3
#define HSE_STATUS_ERROR 4

/* Last-error values the server sets (read them with GetLastError). */
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NO_DATA 232
#define ERROR_INVALID_INDEX 1413

/* ---- ServerSupportFunction request codes ----------------------------------------- */

#define HSE_REQ_BASE 0
#define HSE_REQ_SEND_URL_REDIRECT_RESP 1
#define HSE_REQ_SEND_URL 2
#define HSE_REQ_SEND_RESPONSE_HEADER 3
#define HSE_REQ_DONE_WITH_SESSION 4
#define HSE_REQ_END_RESERVED 1000

#define HSE_REQ_MAP_URL_TO_PATH 1001
#define HSE_REQ_GET_SSPI_INFO 1002
#define HSE_APPEND_LOG_PARAMETER 1003
#define HSE_REQ_IO_COMPLETION 1005
#define HSE_REQ_TRANSMIT_FILE 1006
#define HSE_REQ_REFRESH_ISAPI_ACL 1007
#define HSE_REQ_IS_KEEP_CONN 1008
#define HSE_REQ_ASYNC_READ_CLIENT 1010
#define HSE_REQ_GET_IMPERSONATION_TOKEN 1011
#define HSE_REQ_MAP_URL_TO_PATH_EX 1012
#define HSE_REQ_ABORTIVE_CLOSE 1014
#define HSE_REQ_GET_CERT_INFO_EX 1015
#define HSE_REQ_SEND_RESPONSE_HEADER_EX 1016
#define HSE_REQ_CLOSE_CONNECTION 1017
#define HSE_REQ_IS_CONNECTED 1018
#define HSE_REQ_EXTENSION_TRIGGER 1020
#define HSE_REQ_MAP_UNICODE_URL_TO_PATH 1023
#define HSE_REQ_MAP_UNICODE_URL_TO_PATH_EX 1024
#define HSE_REQ_EXEC_UNICODE_URL 1025
#define HSE_REQ_EXEC_URL 1026
#define HSE_REQ_GET_EXEC_URL_STATUS 1027
#define HSE_REQ_SEND_CUSTOM_ERROR 1028
#define HSE_REQ_IS_IN_PROCESS 1030
#define HSE_REQ_REPORT_UNHEALTHY 1032
#define HSE_REQ_NORMALIZE_URL 1033
#define HSE_REQ_VECTOR_SEND 1037

/* dwFlags of HSE_TF_INFO and of asynchronous I/O. */
#define HSE_IO_SYNC 0x00000001
#define HSE_IO_ASYNC 0x00000002
#define HSE_IO_DISCONNECT_AFTER_SEND 0x00000004
#define HSE_IO_SEND_HEADERS 0x00000008
#define HSE_IO_NODELAY 0x00001000

/* dwFlags of TerminateExtension. */
#define HSE_TERM_ADVISORY_UNLOAD 0x00000001
#define HSE_TERM_MUST_UNLOAD 0x00000002

/* dwFlags of HSE_URL_MAPEX_INFO. */
#define HSE_URL_FLAGS_READ 0x00000001
#define HSE_URL_FLAGS_WRITE 0x00000002
#define HSE_URL_FLAGS_EXECUTE 0x00000004
#define HSE_URL_FLAGS_SSL 0x00000008
#define HSE_URL_FLAGS_DONT_CACHE 0x00000010
#define HSE_URL_FLAGS_NEGO_CERT 0x00000020
#define HSE_URL_FLAGS_REQUIRE_CERT 0x00000040
#define HSE_URL_FLAGS_MAP_CERT 0x00000080
#define HSE_URL_FLAGS_SSL128 0x00000100
#define HSE_URL_FLAGS_SCRIPT 0x00000200

/* ---- Structures ------------------------------------------------------------------- */

/* Filled by the module in GetExtensionVersion. */
typedef struct _HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  CHAR lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
} HSE_VERSION_INFO, *LPHSE_VERSION_INFO;

/* The per-request block given to HttpExtensionProc. Its texts and callbacks are valid
 * until HttpExtensionProc returns a final status or, for HSE_STATUS_PENDING, until the
 * module sends HSE_REQ_DONE_WITH_SESSION. */
typedef struct _EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  CHAR lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  LPBYTE lpbData;
  LPSTR lpszContentType;

  /* Copies a server variable and its zero byte into lpvBuffer (*lpdwSize bytes); too
   * small a buffer gives FALSE, ERROR_INSUFFICIENT_BUFFER and the size needed. */
  BOOL(WINAPI* GetServerVariable)
  (HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer, LPDWORD lpdwSize);
  /* Sends *lpdwBytes bytes of Buffer to the client. */
  BOOL(WINAPI* WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  /* Reads *lpdwSize further bytes from the client's connection. */
  BOOL(WINAPI* ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
  /* Runs one of the HSE_REQ_* requests. */
  BOOL(WINAPI* ServerSupportFunction)
  (HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer, LPDWORD lpdwSize, LPDWORD lpdwDataType);
} EXTENSION_CONTROL_BLOCK, *LPEXTENSION_CONTROL_BLOCK;

/* Completion callback of asynchronous I/O. */
typedef VOID(WINAPI* PFN_HSE_IO_COMPLETION)(EXTENSION_CONTROL_BLOCK* pECB, PVOID pContext,
                                            DWORD cbIO, DWORD dwError);

/* lpvBuffer of HSE_REQ_SEND_RESPONSE_HEADER_EX. */
typedef struct _HSE_SEND_HEADER_EX_INFO {
  LPCSTR pszStatus;
  LPCSTR pszHeader;
  DWORD cchStatus;
  DWORD cchHeader;
  BOOL fKeepConn;
} HSE_SEND_HEADER_EX_INFO, *LPHSE_SEND_HEADER_EX_INFO;

/* lpvBuffer of HSE_REQ_TRANSMIT_FILE; hFile carries a file descriptor. */
typedef struct _HSE_TF_INFO {
  PFN_HSE_IO_COMPLETION pfnHseIO;
  PVOID pContext;
  HANDLE hFile;
  LPCSTR pszStatusCode;
  DWORD BytesToWrite;
  DWORD Offset;
  PVOID pHead;
  DWORD HeadLength;
  PVOID pTail;
  DWORD TailLength;
  DWORD dwFlags;
} HSE_TF_INFO, *LPHSE_TF_INFO;

/* lpdwDataType of HSE_REQ_MAP_URL_TO_PATH_EX; lpszPath receives the mapped path. */
typedef struct _HSE_URL_MAPEX_INFO {
  CHAR lpszPath[MAX_PATH];
  DWORD dwFlags;
  DWORD cchMatchingPrefix;
  DWORD cchMatchingURL;
  DWORD dwReserved1;
  DWORD dwReserved2;
} HSE_URL_MAPEX_INFO, *LPHSE_URL_MAPEX_INFO;

/* File descriptors travel in HANDLE fields. */
#define HSE_HANDLE_FROM_FD(fd) ((HANDLE)(intptr_t)(fd))
#define HSE_FD_FROM_HANDLE(handle) ((int)(intptr_t)(handle))

/* ---- Last error ------------------------------------------------------------------- */

/* The last-error value of the calling thread: its errno. */
static inline DWORD GetLastError(void) {
  return (DWORD)errno;
}

/* Sets the last-error value of the calling thread. */
static inline void SetLastError(DWORD error) {
  errno = (int)error;
}

/* ---- Module entry points ---------------------------------------------------------- */

/* C linkage and default visibility, so the server finds the symbol with dlsym even when
 * the module is built with hidden visibility. */
#ifdef __cplusplus
#define ISAPI_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define ISAPI_EXPORT __attribute__((visibility("default")))
#endif

typedef BOOL(WINAPI* PFN_GETEXTENSIONVERSION)(HSE_VERSION_INFO* pVer);
typedef DWORD(WINAPI* PFN_HTTPEXTENSIONPROC)(EXTENSION_CONTROL_BLOCK* pECB);
typedef BOOL(WINAPI* PFN_TERMINATEEXTENSION)(DWORD dwFlags);

/* Called before every HttpExtensionProc call; FALSE refuses the request. */
ISAPI_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer);
/* Answers one request; returns an HSE_STATUS_* value. May run on many threads at once. */
ISAPI_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);
/* Optional; this server never calls it. */
ISAPI_EXPORT BOOL WINAPI TerminateExtension(DWORD dwFlags);

#ifdef __cplusplus
}
#endif

#endif /* QUENBY_ISAPI_H */
