/*
 * probe.dll: answers questions about the server's callbacks for the host's tests.
 *
 * The first question of this list found in the query is answered; values are
 * percent-decoded. The answer is written through WriteClient alone (no header request)
 * as "key=value\n" lines in the order given. Buffers are surrounded by 16 guard bytes
 * (0xA5) and filled with 0x5A before a call; "guards=intact|broken" tells whether the
 * server wrote outside them. "error" is GetLastError() after the call, which is set to 0
 * before it unless said otherwise.
 *
 *   var=NAME&size=N  GetServerVariable into a buffer of exactly N bytes (default 256):
 *                    result, size, error, value, terminated, untouched, guards.
 *   map=URL&size=N   HSE_REQ_MAP_URL_TO_PATH with URL in a buffer of N bytes (default
 *                    256; N must hold URL and its zero byte, else the answer is
 *                    "probe: size too small for the url\n"):
 *                    result, size, error, value, terminated, guards.
 *   mapex=URL        HSE_REQ_MAP_URL_TO_PATH_EX, *lpdwSize = length of URL + 1:
 *                    result, size, error, value (lpszPath), terminated,
 *                    others (untouched|changed: the fields after lpszPath), guards.
 *   log=TEXT         HSE_APPEND_LOG_PARAMETER: result, error.
 *   keepconn         HSE_REQ_IS_KEEP_CONN with a BOOL holding 7: result, value, error.
 *   unknown[=CODE]   request CODE (default 9999), last error set to 4242 first:
 *                    result, error.
 *   trigger=TEXT     HSE_REQ_EXTENSION_TRIGGER: result, error.
 *   read=N           ReadClient of N bytes: result, size, error, data (the bytes), guards.
 *   conn=stale       keeps this request's ConnID; the first time answers "stale=none",
 *                    later calls GetServerVariable(REQUEST_METHOD) with the ConnID kept
 *                    before: result, size, error, value, guards.
 *   zero             WriteClient of 0 bytes, then of the 4 bytes "x\0y\n", then
 *                    "write=R1,R2\ncounts=C1,C2\n" (results and counts after each call).
 *   abortive         writes "probe: before close\n", HSE_REQ_ABORTIVE_CLOSE, then
 *                    result (written after the close).
 *   ecb              the control block: cbSize, dwVersion (0x%08x), dwHttpStatusCode,
 *                    lpszLogData, lpszMethod, lpszQueryString, lpszPathInfo,
 *                    lpszPathTranslated, cbTotalBytes, cbAvailable, lpszContentType,
 *                    lpbData (the cbAvailable bytes, or "(null)").
 * Otherwise: "probe: unknown question\n".
 *
 * Every question also honours return=N: HttpExtensionProc returns N (default
 * HSE_STATUS_SUCCESS).
 */
#include <pthread.h>

#include "module_util.h"

enum {
  GuardSize = 16,
  GuardByte = 0xA5,
  FillByte = 0x5A,
  DefaultSize = 256,
  StaleValueSize = 64,
  UnknownRequest = 9999,
  UnknownMarker = 4242,
  KeepConnMarker = 7
};

/* ---- Guarded buffers ---- */

/* size bytes of fill between two guards; free with guarded_free. */
static unsigned char* guarded_alloc(size_t size) {
  unsigned char* block = (unsigned char*)malloc(size + 2 * GuardSize);
  if (block == NULL)
    return NULL;
  memset(block, GuardByte, GuardSize);
  memset(block + GuardSize, FillByte, size);
  memset(block + GuardSize + size, GuardByte, GuardSize);
  return block + GuardSize;
}

static void guarded_free(unsigned char* buffer) {
  if (buffer != NULL)
    free(buffer - GuardSize);
}

static int all_bytes(const unsigned char* data, size_t size, unsigned char byte) {
  for (size_t i = 0; i < size; i++) {
    if (data[i] != byte)
      return 0;
  }
  return 1;
}

static int guards_intact(const unsigned char* buffer, size_t size) {
  return all_bytes(buffer - GuardSize, GuardSize, GuardByte) &&
         all_bytes(buffer + size, GuardSize, GuardByte);
}

/* ---- Answer lines ---- */

static void line_number(EXTENSION_CONTROL_BLOCK* ecb, const char* key, unsigned long value) {
  write_format(ecb, "%s=%lu\n", key, value);
}

static void line_bytes(EXTENSION_CONTROL_BLOCK* ecb, const char* key, const void* data,
                       size_t len) {
  write_format(ecb, "%s=", key);
  write_bytes(ecb, data, len);
  write_text(ecb, "\n");
}

static void line_text(EXTENSION_CONTROL_BLOCK* ecb, const char* key, const char* text) {
  if (text == NULL)
    text = "(null)";
  line_bytes(ecb, key, text, strlen(text));
}

/* "value" up to the first zero byte within size, then whether there was one. */
static void line_value(EXTENSION_CONTROL_BLOCK* ecb, const void* buffer, size_t size) {
  const char* end = (const char*)memchr(buffer, '\0', size);
  line_bytes(ecb, "value", buffer, end != NULL ? (size_t)(end - (const char*)buffer) : size);
  line_text(ecb, "terminated", end != NULL ? "yes" : "no");
}

static void line_result(EXTENSION_CONTROL_BLOCK* ecb, BOOL result) {
  line_number(ecb, "result", (unsigned long)result);
}

static void line_guards(EXTENSION_CONTROL_BLOCK* ecb, const unsigned char* buffer, size_t size) {
  line_text(ecb, "guards", guards_intact(buffer, size) ? "intact" : "broken");
}

/* ---- Questions ---- */

static void ask_variable(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  char* name = query_value(query, "var");
  size_t capacity = query_number(query, "size", DefaultSize);
  unsigned char* buffer = guarded_alloc(capacity);
  if (name != NULL && buffer != NULL) {
    DWORD size = (DWORD)capacity;
    SetLastError(0);
    BOOL result = ecb->GetServerVariable(ecb->ConnID, name, buffer, &size);
    DWORD error = GetLastError();
    line_result(ecb, result);
    line_number(ecb, "size", size);
    line_number(ecb, "error", error);
    line_value(ecb, buffer, capacity);
    line_text(ecb, "untouched", all_bytes(buffer, capacity, FillByte) ? "yes" : "no");
    line_guards(ecb, buffer, capacity);
  }
  guarded_free(buffer);
  free(name);
}

static void ask_map(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  char* url = query_value(query, "map");
  size_t capacity = query_number(query, "size", DefaultSize);
  if (url == NULL || strlen(url) + 1 > capacity) {
    write_text(ecb, "probe: size too small for the url\n");
    free(url);
    return;
  }
  unsigned char* buffer = guarded_alloc(capacity);
  if (buffer != NULL) {
    memcpy(buffer, url, strlen(url) + 1);
    DWORD size = (DWORD)capacity;
    SetLastError(0);
    BOOL result =
        ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_MAP_URL_TO_PATH, buffer, &size, NULL);
    DWORD error = GetLastError();
    line_result(ecb, result);
    line_number(ecb, "size", size);
    line_number(ecb, "error", error);
    line_value(ecb, buffer, capacity);
    line_guards(ecb, buffer, capacity);
  }
  guarded_free(buffer);
  free(url);
}

static void ask_map_ex(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  char* url = query_value(query, "mapex");
  unsigned char* block = guarded_alloc(sizeof(HSE_URL_MAPEX_INFO));
  if (url != NULL && block != NULL) {
    HSE_URL_MAPEX_INFO* info = (HSE_URL_MAPEX_INFO*)block;
    DWORD size = (DWORD)strlen(url) + 1;
    SetLastError(0);
    BOOL result = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_MAP_URL_TO_PATH_EX, url, &size,
                                             (LPDWORD)info);
    DWORD error = GetLastError();
    const unsigned char* others = block + sizeof info->lpszPath;
    line_result(ecb, result);
    line_number(ecb, "size", size);
    line_number(ecb, "error", error);
    line_value(ecb, info->lpszPath, sizeof info->lpszPath);
    line_text(ecb, "others",
              all_bytes(others, sizeof *info - sizeof info->lpszPath, FillByte) ? "untouched"
                                                                                : "changed");
    line_guards(ecb, block, sizeof *info);
  }
  guarded_free(block);
  free(url);
}

/* A support request whose buffer is the decoded text of the question. */
static void ask_text_request(EXTENSION_CONTROL_BLOCK* ecb, const char* query, const char* key,
                             DWORD request) {
  char* text = query_value(query, key);
  if (text == NULL)
    return;
  DWORD size = (DWORD)strlen(text) + 1;
  SetLastError(0);
  BOOL result = ecb->ServerSupportFunction(ecb->ConnID, request, text, &size, NULL);
  DWORD error = GetLastError();
  line_result(ecb, result);
  line_number(ecb, "error", error);
  free(text);
}

static void ask_log(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  ask_text_request(ecb, query, "log", HSE_APPEND_LOG_PARAMETER);
}

static void ask_trigger(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  ask_text_request(ecb, query, "trigger", HSE_REQ_EXTENSION_TRIGGER);
}

static void ask_keep_conn(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  (void)query;
  BOOL keep = KeepConnMarker;
  SetLastError(0);
  BOOL result = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_IS_KEEP_CONN, &keep, NULL, NULL);
  DWORD error = GetLastError();
  line_result(ecb, result);
  write_format(ecb, "value=%d\n", (int)keep);
  line_number(ecb, "error", error);
}

static void ask_unknown(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  DWORD request = (DWORD)query_number(query, "unknown", UnknownRequest);
  SetLastError(UnknownMarker);
  BOOL result = ecb->ServerSupportFunction(ecb->ConnID, request, NULL, NULL, NULL);
  DWORD error = GetLastError();
  line_result(ecb, result);
  line_number(ecb, "error", error);
}

static void ask_read(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  size_t capacity = query_number(query, "read", 0);
  unsigned char* buffer = guarded_alloc(capacity);
  if (buffer == NULL)
    return;
  DWORD size = (DWORD)capacity;
  SetLastError(0);
  BOOL result = ecb->ReadClient(ecb->ConnID, buffer, &size);
  DWORD error = GetLastError();
  line_result(ecb, result);
  line_number(ecb, "size", size);
  line_number(ecb, "error", error);
  line_bytes(ecb, "data", buffer, size < capacity ? size : capacity);
  line_guards(ecb, buffer, capacity);
  guarded_free(buffer);
}

/* The ConnID of an earlier request, kept to try the server's check of stale IDs. */
static pthread_mutex_t stale_lock = PTHREAD_MUTEX_INITIALIZER;
static HCONN stale_conn = NULL;
static int stale_kept = 0;

static void ask_stale(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  (void)query;
  pthread_mutex_lock(&stale_lock);
  HCONN old = stale_conn;
  int kept = stale_kept;
  stale_conn = ecb->ConnID;
  stale_kept = 1;
  pthread_mutex_unlock(&stale_lock);
  if (!kept) {
    write_text(ecb, "stale=none\n");
    return;
  }
  unsigned char* buffer = guarded_alloc(StaleValueSize);
  if (buffer == NULL)
    return;
  DWORD size = StaleValueSize;
  SetLastError(0);
  BOOL result = ecb->GetServerVariable(old, "REQUEST_METHOD", buffer, &size);
  DWORD error = GetLastError();
  line_result(ecb, result);
  line_number(ecb, "size", size);
  line_number(ecb, "error", error);
  line_value(ecb, buffer, StaleValueSize);
  line_guards(ecb, buffer, StaleValueSize);
  guarded_free(buffer);
}

static void ask_zero(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  (void)query;
  static const char WithZero[] = {'x', '\0', 'y', '\n'};
  char empty = 'e';
  DWORD count_empty = 0;
  BOOL first = ecb->WriteClient(ecb->ConnID, &empty, &count_empty, HSE_IO_SYNC);
  DWORD count_bytes = sizeof WithZero;
  BOOL second = ecb->WriteClient(ecb->ConnID, (LPVOID)WithZero, &count_bytes, HSE_IO_SYNC);
  write_format(ecb, "write=%d,%d\ncounts=%lu,%lu\n", (int)first, (int)second,
               (unsigned long)count_empty, (unsigned long)count_bytes);
}

static void ask_abortive(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  (void)query;
  write_text(ecb, "probe: before close\n");
  BOOL result = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_ABORTIVE_CLOSE, NULL, NULL, NULL);
  line_result(ecb, result);
}

static void ask_ecb(EXTENSION_CONTROL_BLOCK* ecb, const char* query) {
  (void)query;
  line_number(ecb, "cbSize", ecb->cbSize);
  write_format(ecb, "dwVersion=0x%08lx\n", (unsigned long)ecb->dwVersion);
  line_number(ecb, "dwHttpStatusCode", ecb->dwHttpStatusCode);
  const char* log_end = (const char*)memchr(ecb->lpszLogData, '\0', HSE_LOG_BUFFER_LEN);
  line_bytes(ecb, "lpszLogData", ecb->lpszLogData,
             log_end != NULL ? (size_t)(log_end - ecb->lpszLogData) : HSE_LOG_BUFFER_LEN);
  line_text(ecb, "lpszMethod", ecb->lpszMethod);
  line_text(ecb, "lpszQueryString", ecb->lpszQueryString);
  line_text(ecb, "lpszPathInfo", ecb->lpszPathInfo);
  line_text(ecb, "lpszPathTranslated", ecb->lpszPathTranslated);
  line_number(ecb, "cbTotalBytes", ecb->cbTotalBytes);
  line_number(ecb, "cbAvailable", ecb->cbAvailable);
  line_text(ecb, "lpszContentType", ecb->lpszContentType);
  if (ecb->lpbData != NULL) {
    line_bytes(ecb, "lpbData", ecb->lpbData, ecb->cbAvailable);
  } else {
    line_text(ecb, "lpbData", NULL);
  }
}

/* ---- Dispatch ---- */

struct question {
  const char* key;
  void (*answer)(EXTENSION_CONTROL_BLOCK* ecb, const char* query);
};

static const struct question Questions[] = {
    {"var", ask_variable},       {"map", ask_map},
    {"mapex", ask_map_ex},       {"log", ask_log},
    {"keepconn", ask_keep_conn}, {"unknown", ask_unknown},
    {"trigger", ask_trigger},    {"read", ask_read},
    {"conn", ask_stale},         {"zero", ask_zero},
    {"abortive", ask_abortive},  {"ecb", ask_ecb},
};

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  set_version(pVer, "Quenby probe test module");
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  const char* query = pECB->lpszQueryString;
  DWORD status = (DWORD)query_number(query, "return", HSE_STATUS_SUCCESS);
  for (size_t i = 0; i < sizeof Questions / sizeof Questions[0]; i++) {
    if (query_has(query, Questions[i].key)) {
      Questions[i].answer(pECB, query);
      return status;
    }
  }
  write_text(pECB, "probe: unknown question\n");
  return status;
}
