/*
 * rawreply.dll: writes its whole reply, status line and headers included, through
 * WriteClient alone and makes no header request. The client must receive exactly these
 * bytes and nothing else.
 */
#include <quenby/isapi.h>

#include <string.h>

static const char Reply[] =
    "HTTP/1.1 200 OK\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Length: 17\r\n"
    "Connection: close\r\n"
    "\r\n"
    "raw reply module\n";

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  pVer->dwExtensionVersion = HSE_VERSION;
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  DWORD length = (DWORD)strlen(Reply);
  if (!pECB->WriteClient(pECB->ConnID, (LPVOID)Reply, &length, HSE_IO_SYNC)) {
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_SUCCESS;
}
