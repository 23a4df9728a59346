/*
 * echo.dll: shows a request as a module sees it - the control block's texts, a set of
 * server variables and the posted body - as an HTML page. Useful to try a form or a
 * query string, and an example of reading variables of any length.
 */
#include <quenby/isapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Deliberately small, so that long values show the grow-and-retry path. */
enum { InitialVariableSize = 16, MaxVariableSize = 1 << 20 };

static const char* const Variables[] = {"REQUEST_METHOD",   "QUERY_STRING", "PATH_INFO",
                                        "PATH_TRANSLATED",  "SCRIPT_NAME",  "URL",
                                        "SERVER_NAME",      "SERVER_PORT",  "SERVER_PROTOCOL",
                                        "SERVER_SOFTWARE",  "REMOTE_ADDR",  "CONTENT_TYPE",
                                        "CONTENT_LENGTH",   "HTTP_HOST",    "HTTP_USER_AGENT",
                                        "HTTP_ACCEPT",      "HTTP_COOKIE",  "DOCUMENT_ROOT",
                                        "GATEWAY_INTERFACE"};

static BOOL write_bytes(EXTENSION_CONTROL_BLOCK* ecb, const char* data, size_t len) {
  DWORD count = (DWORD)len;
  if (count == 0)
    return TRUE;
  return ecb->WriteClient(ecb->ConnID, (LPVOID)data, &count, HSE_IO_SYNC);
}

static BOOL write_text(EXTENSION_CONTROL_BLOCK* ecb, const char* text) {
  return write_bytes(ecb, text, strlen(text));
}

/* The entity for a character that HTML must not see raw, or NULL. Control characters
 * other than line breaks and tabs (zero bytes included) are shown as a middle dot. */
static const char* html_entity(unsigned char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    default:
      break;
  }
  if (c < 0x20 && c != '\n' && c != '\r' && c != '\t')
    return "&middot;";
  return NULL;
}

/* Writes len bytes HTML-escaped: runs of plain bytes in one call, entities between. */
static void write_escaped(EXTENSION_CONTROL_BLOCK* ecb, const char* data, size_t len) {
  size_t start = 0;
  for (size_t i = 0; i < len; i++) {
    const char* entity = html_entity((unsigned char)data[i]);
    if (entity == NULL)
      continue;
    write_bytes(ecb, data + start, i - start);
    write_text(ecb, entity);
    start = i + 1;
  }
  write_bytes(ecb, data + start, len - start);
}

static void write_row(EXTENSION_CONTROL_BLOCK* ecb, const char* name, const char* value) {
  write_text(ecb, "<tr><th>");
  write_text(ecb, name);
  write_text(ecb, "</th><td>");
  if (value != NULL) {
    write_escaped(ecb, value, strlen(value));
  } else {
    write_text(ecb, "<i>none</i>");
  }
  write_text(ecb, "</td></tr>\n");
}

/* Reads a server variable into a malloc'd text, growing the buffer while the server
 * answers ERROR_INSUFFICIENT_BUFFER. NULL when the variable is not available. */
static char* read_variable(EXTENSION_CONTROL_BLOCK* ecb, const char* name) {
  DWORD capacity = InitialVariableSize;
  for (;;) {
    char* buffer = (char*)malloc(capacity);
    if (buffer == NULL)
      return NULL;
    DWORD size = capacity;
    SetLastError(0);
    if (ecb->GetServerVariable(ecb->ConnID, (LPSTR)name, buffer, &size)) {
      buffer[capacity - 1] = '\0';
      return buffer;
    }
    DWORD error = GetLastError();
    free(buffer);
    if (error != ERROR_INSUFFICIENT_BUFFER || capacity >= MaxVariableSize)
      return NULL;
    /* The server reports the size it needs; double when it does not. */
    capacity = size > capacity ? size : capacity * 2;
    if (capacity > MaxVariableSize)
      capacity = MaxVariableSize;
  }
}

static void write_block(EXTENSION_CONTROL_BLOCK* ecb) {
  char number[32];
  write_text(ecb, "<h2>Control block</h2>\n<table>\n");
  write_row(ecb, "lpszMethod", ecb->lpszMethod);
  write_row(ecb, "lpszQueryString", ecb->lpszQueryString);
  write_row(ecb, "lpszPathInfo", ecb->lpszPathInfo);
  write_row(ecb, "lpszPathTranslated", ecb->lpszPathTranslated);
  write_row(ecb, "lpszContentType", ecb->lpszContentType);
  snprintf(number, sizeof number, "%lu", (unsigned long)ecb->cbTotalBytes);
  write_row(ecb, "cbTotalBytes", number);
  write_text(ecb, "</table>\n");
}

static void write_variables(EXTENSION_CONTROL_BLOCK* ecb) {
  write_text(ecb, "<h2>Server variables</h2>\n<table>\n");
  for (size_t i = 0; i < sizeof Variables / sizeof Variables[0]; i++) {
    char* value = read_variable(ecb, Variables[i]);
    write_row(ecb, Variables[i], value);
    free(value);
  }
  write_text(ecb, "</table>\n");
}

/* The body the server already read: cbAvailable bytes at lpbData. */
static void write_body(EXTENSION_CONTROL_BLOCK* ecb) {
  char heading[64];
  snprintf(heading, sizeof heading, "<h2>Body (%lu bytes)</h2>\n<pre>",
           (unsigned long)ecb->cbAvailable);
  write_text(ecb, heading);
  if (ecb->lpbData != NULL)
    write_escaped(ecb, (const char*)ecb->lpbData, ecb->cbAvailable);
  write_text(ecb, "</pre>\n");
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  pVer->dwExtensionVersion = HSE_VERSION;
  snprintf(pVer->lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN, "%s", "Quenby echo module");
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  static const char Status[] = "200 OK";
  static const char Header[] = "Content-Type: text/html\r\n\r\n";
  HSE_SEND_HEADER_EX_INFO header = {Status, Header, sizeof Status - 1, sizeof Header - 1, FALSE};
  if (!pECB->ServerSupportFunction(pECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &header, NULL,
                                   NULL)) {
    return HSE_STATUS_ERROR;
  }
  write_text(pECB,
             "<!DOCTYPE html>\n<html><head><title>Echo</title></head><body>\n"
             "<h1>The request as the module sees it</h1>\n");
  write_block(pECB);
  write_variables(pECB);
  write_body(pECB);
  write_text(pECB, "</body></html>\n");
  return HSE_STATUS_SUCCESS;
}
