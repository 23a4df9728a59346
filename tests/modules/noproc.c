/*
 * noproc.dll: a module that exports GetExtensionVersion but no HttpExtensionProc. The
 * server must report the missing HttpExtensionProc.
 */
#include <quenby/isapi.h>

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  pVer->dwExtensionVersion = HSE_VERSION;
  return TRUE;
}
