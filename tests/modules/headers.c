/*
 * headers.dll: makes header requests chosen by the query, then writes
 * "headers: result=R\n" (R the BOOL the request returned, "R1,R2" with "twice").
 *
 * Query parameters (values percent-decoded):
 *   case=NAME     a canned header block:
 *                   cookies        "Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n"
 *                   lowercookie    "Set-cookie: a=1\r\n\r\n"
 *                   location       "Location: /x\r\n\r\n"
 *                   emptylocation  "Location: \r\n\r\n"
 *                   lastmodified   "Last-Modified: Tue, 01 Jan 2030 00:00:00 GMT\r\n\r\n"
 *                   contenttype    "Content-type: text/plain\r\n\r\n"
 *                   empty          ""
 *   header=TEXT   the header block itself (wins over case); default: empty.
 *   status=N      set dwHttpStatusCode to N before the request.
 *   ex            use HSE_REQ_SEND_RESPONSE_HEADER_EX (default HSE_REQ_SEND_RESPONSE_HEADER).
 *   statustext=T  the status text: lpvBuffer of the plain request (NULL when absent),
 *                 pszStatus of the EX request (default "200 OK").
 *   twice         make the same request twice.
 */
#include "module_util.h"

struct canned_header {
  const char* name;
  const char* block;
};

static const struct canned_header Cases[] = {
    {"cookies", "Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n"},
    {"lowercookie", "Set-cookie: a=1\r\n\r\n"},
    {"location", "Location: /x\r\n\r\n"},
    {"emptylocation", "Location: \r\n\r\n"},
    {"lastmodified", "Last-Modified: Tue, 01 Jan 2030 00:00:00 GMT\r\n\r\n"},
    {"contenttype", "Content-type: text/plain\r\n\r\n"},
    {"empty", ""},
};

/* The header block the query asks for, malloc'd; the caller frees it. */
static char* chosen_block(const char* query) {
  char* block = query_value(query, "header");
  if (block != NULL)
    return block;
  char* name = query_value(query, "case");
  const char* canned = "";
  for (size_t i = 0; name != NULL && i < sizeof Cases / sizeof Cases[0]; i++) {
    if (strcmp(name, Cases[i].name) == 0)
      canned = Cases[i].block;
  }
  free(name);
  block = (char*)malloc(strlen(canned) + 1);
  if (block != NULL)
    strcpy(block, canned);
  return block;
}

static BOOL request_plain(EXTENSION_CONTROL_BLOCK* ecb, char* status, char* block) {
  DWORD size = status != NULL ? (DWORD)strlen(status) + 1 : 0;
  return ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status, &size,
                                    (LPDWORD)block);
}

static BOOL request_ex(EXTENSION_CONTROL_BLOCK* ecb, const char* status, const char* block) {
  return send_header_ex(ecb, status != NULL ? status : "200 OK", block);
}

static BOOL request_once(EXTENSION_CONTROL_BLOCK* ecb, int ex, char* status, char* block) {
  return ex ? request_ex(ecb, status, block) : request_plain(ecb, status, block);
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  set_version(pVer, "Quenby header test module");
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  const char* query = pECB->lpszQueryString;
  char* block = chosen_block(query);
  char* status = query_value(query, "statustext");
  if (block == NULL) {
    free(status);
    return HSE_STATUS_ERROR;
  }
  if (query_has(query, "status"))
    pECB->dwHttpStatusCode = (DWORD)query_number(query, "status", 0);
  int ex = query_has(query, "ex");
  BOOL first = request_once(pECB, ex, status, block);
  if (query_has(query, "twice")) {
    BOOL second = request_once(pECB, ex, status, block);
    write_format(pECB, "headers: result=%d,%d\n", (int)first, (int)second);
  } else {
    write_format(pECB, "headers: result=%d\n", (int)first);
  }
  free(status);
  free(block);
  return HSE_STATUS_SUCCESS;
}
