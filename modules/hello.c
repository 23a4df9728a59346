/*
 * hello.dll: the smallest useful extension module, and the template to copy.
 *
 * A module exports two functions:
 *   GetExtensionVersion  - called before each request; fill in the version and return TRUE.
 *   HttpExtensionProc    - answers the request through the callbacks in the control block.
 * It may also export TerminateExtension, which this server never calls.
 *
 * Build (outside the Quenby tree):
 *   cc -std=c99 -shared -fPIC -fvisibility=hidden -I<quenby>/include hello.c -o hello.dll
 * The prototypes in <quenby/isapi.h> give the entry points C linkage and default
 * visibility, so defining them below is enough to export them.
 *
 * HttpExtensionProc may run on several threads at once: keep per-request data on the
 * stack or in the control block, and lock anything shared.
 */
#include <quenby/isapi.h>

#include <stdio.h>
#include <string.h>

static const char Description[] = "Quenby hello module";
static const char Status[] = "200 OK";
/* The header block ends with an empty line. */
static const char Header[] = "Content-Type: text/html\r\n\r\n";
static const char Page[] =
    "<!DOCTYPE html>\n"
    "<html><head><title>Hello</title></head>\n"
    "<body><h1>Hello from an extension module</h1>\n"
    "<p>This page was written by hello.dll through WriteClient.</p></body></html>\n";

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  pVer->dwExtensionVersion = HSE_VERSION;
  snprintf(pVer->lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN, "%s", Description);
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  /* First the status and header block: the server sends them before the body. */
  HSE_SEND_HEADER_EX_INFO header;
  header.pszStatus = Status;
  header.pszHeader = Header;
  header.cchStatus = (DWORD)strlen(Status);
  header.cchHeader = (DWORD)strlen(Header);
  header.fKeepConn = FALSE;
  if (!pECB->ServerSupportFunction(pECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &header, NULL,
                                   NULL)) {
    return HSE_STATUS_ERROR;
  }

  /* Then the body; WriteClient takes a pointer to the byte count. */
  DWORD length = (DWORD)strlen(Page);
  if (!pECB->WriteClient(pECB->ConnID, (LPVOID)Page, &length, HSE_IO_SYNC)) {
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_SUCCESS;
}

BOOL WINAPI TerminateExtension(DWORD dwFlags) {
  (void)dwFlags;
  return TRUE;
}
