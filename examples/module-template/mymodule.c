/*
 * mymodule.dll: the start of a new extension module. It answers every request with a
 * status and header block, then a plain-text body naming the method and query string.
 *
 * GetExtensionVersion is called before each request; HttpExtensionProc answers it, and may
 * run on several threads at once: keep per-request data on the stack or in the control
 * block, and lock anything shared. Defining the entry points after including
 * <quenby/isapi.h> exports them; everything else stays hidden.
 */
#include <quenby/isapi.h>

#include <stdio.h>
#include <string.h>

static const char Description[] = "mymodule";
static const char Status[] = "200 OK";
/* The header block ends with an empty line. */
static const char Header[] = "Content-Type: text/plain; charset=utf-8\r\n\r\n";

/* Long query strings are cut to fit; a real module would write in pieces. */
enum { MaxBody = 1024 };

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  pVer->dwExtensionVersion = HSE_VERSION;
  snprintf(pVer->lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN, "%s", Description);
  return TRUE;
}

static BOOL send_header(EXTENSION_CONTROL_BLOCK* pECB) {
  HSE_SEND_HEADER_EX_INFO header;
  header.pszStatus = Status;
  header.pszHeader = Header;
  header.cchStatus = (DWORD)strlen(Status);
  header.cchHeader = (DWORD)strlen(Header);
  header.fKeepConn = FALSE;
  return pECB->ServerSupportFunction(pECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &header, NULL,
                                     NULL);
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  char body[MaxBody];
  int length = snprintf(body, sizeof body, "Hello from mymodule.dll\nMethod: %s\nQuery: %s\n",
                        pECB->lpszMethod, pECB->lpszQueryString);
  if (length < 0) {
    return HSE_STATUS_ERROR;
  }
  if ((size_t)length >= sizeof body) {
    length = (int)sizeof body - 1;
  }
  /* The status and headers first, then the body; WriteClient takes the count by pointer. */
  DWORD count = (DWORD)length;
  if (!send_header(pECB) || !pECB->WriteClient(pECB->ConnID, body, &count, HSE_IO_SYNC)) {
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_SUCCESS;
}
