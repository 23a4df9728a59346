/*
 * transmit.dll: sends a file with HSE_REQ_TRANSMIT_FILE.
 *
 * Query parameters (values percent-decoded):
 *   file=NAME   the file: relative to the module's own directory, or an absolute path.
 *   offset=N    seek the descriptor to byte N before the send (also put in Offset).
 *   bytes=N     BytesToWrite (default 0: the rest of the file).
 *   noheader    make no header request.
 *   lead        WriteClient "transmit: lead\n" before the file is sent.
 *
 * Order: header request "200 OK" with "Content-Type: application/octet-stream\r\n\r\n"
 * (unless noheader), then "lead" text, then the file, then WriteClient of the trailer
 * "\n-- trailer --\n" (or "\n-- transmit failed --\n" when the request returns FALSE).
 * A file that cannot be opened gives dwHttpStatusCode 404, the body
 * "transmit: cannot open PATH\n" and HSE_STATUS_ERROR.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include "module_util.h"

/* Any object of this module: dladdr of its address names the module's file. */
static const char ModuleAnchor = 0;

/* Full path of NAME: itself when absolute, else beside this module. Caller frees. */
static char* resolve_path(const char* name) {
  Dl_info info;
  const char* dir_end = NULL;
  if (name[0] != '/' && dladdr(&ModuleAnchor, &info) != 0 && info.dli_fname != NULL) {
    dir_end = strrchr(info.dli_fname, '/');
  }
  size_t dir_len = dir_end != NULL ? (size_t)(dir_end - info.dli_fname) + 1 : 0;
  char* path = (char*)malloc(dir_len + strlen(name) + 1);
  if (path == NULL)
    return NULL;
  memcpy(path, dir_len > 0 ? info.dli_fname : "", dir_len);
  strcpy(path + dir_len, name);
  return path;
}

static BOOL transmit(EXTENSION_CONTROL_BLOCK* ecb, int fd, DWORD offset, DWORD bytes) {
  HSE_TF_INFO tf;
  memset(&tf, 0, sizeof tf);
  tf.hFile = HSE_HANDLE_FROM_FD(fd);
  tf.BytesToWrite = bytes;
  tf.Offset = offset;
  tf.dwFlags = HSE_IO_SYNC;
  return ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_TRANSMIT_FILE, &tf, NULL, NULL);
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  set_version(pVer, "Quenby transmit-file test module");
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  const char* query = pECB->lpszQueryString;
  char* name = query_value(query, "file");
  char* path = resolve_path(name != NULL ? name : "");
  free(name);
  if (path == NULL)
    return HSE_STATUS_ERROR;
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    pECB->dwHttpStatusCode = 404;
    write_format(pECB, "transmit: cannot open %s\n", path);
    free(path);
    return HSE_STATUS_ERROR;
  }
  free(path);

  DWORD offset = (DWORD)query_number(query, "offset", 0);
  lseek(fd, (off_t)offset, SEEK_SET);
  if (!query_has(query, "noheader")) {
    send_header_ex(pECB, "200 OK", "Content-Type: application/octet-stream\r\n\r\n");
  }
  if (query_has(query, "lead"))
    write_text(pECB, "transmit: lead\n");
  BOOL sent = transmit(pECB, fd, offset, (DWORD)query_number(query, "bytes", 0));
  write_text(pECB, sent ? "\n-- trailer --\n" : "\n-- transmit failed --\n");
  close(fd);
  return HSE_STATUS_SUCCESS;
}
