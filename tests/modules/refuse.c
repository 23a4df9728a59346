/*
 * refuse.dll: a module that refuses every request in GetExtensionVersion. The server
 * must answer with status 500 and never call HttpExtensionProc.
 */
#include <quenby/isapi.h>

#include <string.h>

/* Written only if the server calls HttpExtensionProc despite the refusal. */
static const char NeverSent[] = "refuse: HttpExtensionProc ran\n";

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  pVer->dwExtensionVersion = HSE_VERSION;
  return FALSE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  DWORD length = (DWORD)strlen(NeverSent);
  pECB->WriteClient(pECB->ConnID, (LPVOID)NeverSent, &length, HSE_IO_SYNC);
  return HSE_STATUS_SUCCESS;
}
