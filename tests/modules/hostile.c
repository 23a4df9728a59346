/*
 * hostile.dll: a module that misuses the host, to prove the host survives it.
 *
 * Query (one of):
 *   flood=N   sends a header, then N bytes (default 100 MB) of 'x' through WriteClient calls
 *             of 100 bytes each.
 *   forged    calls back with ConnIDs it was never given (its own plus one, a made-up
 *             number, NULL) and with the ConnID of its previous request, kept from then;
 *             then writes "refused R of C" through its own ConnID, R being the calls of C
 *             that the host refused.
 */
#include <stdint.h>

#include "module_util.h"

/* The ConnID of the previous request, which ended when it returned. */
static HCONN previous_conn_id = NULL;

static void flood(EXTENSION_CONTROL_BLOCK* ecb, unsigned long total) {
  char piece[100];
  memset(piece, 'x', sizeof piece);
  send_header_ex(ecb, "200 OK", "Content-Type: application/octet-stream\r\n\r\n");
  while (total > 0) {
    size_t length = total < sizeof piece ? total : sizeof piece;
    if (!write_bytes(ecb, piece, length))
      return;
    total -= length;
  }
}

/* 1 when the host refuses every callback made with conn_id. */
static int refuses(EXTENSION_CONTROL_BLOCK* ecb, HCONN conn_id) {
  char buffer[64];
  DWORD size = sizeof buffer;
  DWORD count = 5;
  int refused = !ecb->GetServerVariable(conn_id, "REMOTE_ADDR", buffer, &size);
  refused &= !ecb->WriteClient(conn_id, "leak\n", &count, HSE_IO_SYNC);
  size = sizeof buffer;
  refused &= !ecb->ReadClient(conn_id, buffer, &size);
  refused &= !ecb->ServerSupportFunction(conn_id, HSE_REQ_DONE_WITH_SESSION, NULL, NULL, NULL);
  return refused;
}

static void forged(EXTENSION_CONTROL_BLOCK* ecb) {
  HCONN candidates[4] = {(HCONN)((uintptr_t)ecb->ConnID + 1), (HCONN)(uintptr_t)0x5eed5eed, NULL,
                         previous_conn_id};
  int tried = previous_conn_id != NULL ? 4 : 3;
  int refused = 0;
  for (int i = 0; i < tried; i++)
    refused += refuses(ecb, candidates[i]);
  write_format(ecb, "refused %d of %d\n", refused, tried);
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  set_version(pVer, "Quenby hostile test module");
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  const char* query = pECB->lpszQueryString;
  if (query_has(query, "flood"))
    flood(pECB, query_number(query, "flood", 100ul * 1000 * 1000));
  else if (query_has(query, "forged"))
    forged(pECB);
  previous_conn_id = pECB->ConnID;
  return HSE_STATUS_SUCCESS;
}
