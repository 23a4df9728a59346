/*
 * redirect.dll: redirects to the URL given as the whole query string, undecoded
 * ("/bin/redirect.dll?/index.html" goes to /index.html); an empty query redirects to "/".
 * Writes "redirect: failed\n" if the server refuses the request.
 */
#include "module_util.h"

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  set_version(pVer, "Quenby redirect test module");
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  const char* query = pECB->lpszQueryString;
  char* url = (char*)(query != NULL && *query != '\0' ? query : "/");
  DWORD size = (DWORD)strlen(url) + 1;
  if (!pECB->ServerSupportFunction(pECB->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, url, &size,
                                   NULL)) {
    write_text(pECB, "redirect: failed\n");
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_SUCCESS;
}
