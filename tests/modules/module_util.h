/*
 * Small helpers shared by the test modules: query parameters and writing text.
 * Everything is static inline so that each module stays one self-contained object.
 */
#ifndef QUENBY_MODULE_UTIL_H
#define QUENBY_MODULE_UTIL_H

#include <quenby/isapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Value of one hexadecimal digit, or -1. */
static inline int hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

/* Decodes len bytes of a query value into out (room for len + 1 bytes): "%XX" gives the
 * byte XX, "+" a blank; a "%" not followed by two hex digits stays as it is. */
static inline void query_decode(const char* text, size_t len, char* out) {
  size_t i = 0;
  while (i < len) {
    if (text[i] == '%' && i + 2 < len && hex_digit(text[i + 1]) >= 0 &&
        hex_digit(text[i + 2]) >= 0) {
      *out++ = (char)(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
      i += 3;
    } else {
      *out++ = text[i] == '+' ? ' ' : text[i];
      i++;
    }
  }
  *out = '\0';
}

/* Finds the parameter "name" or "name=value" in an "&"-separated query. Returns a
 * malloc'd decoded copy of its value ("" for a bare name), or NULL when it is absent.
 * The caller frees the result. */
static inline char* query_value(const char* query, const char* name) {
  size_t name_len = strlen(name);
  const char* item = query;
  while (item != NULL && *item != '\0') {
    const char* end = strchr(item, '&');
    size_t item_len = end != NULL ? (size_t)(end - item) : strlen(item);
    if (item_len >= name_len && strncmp(item, name, name_len) == 0 &&
        (item_len == name_len || item[name_len] == '=')) {
      size_t value_len = item_len == name_len ? 0 : item_len - name_len - 1;
      char* value = (char*)malloc(value_len + 1);
      if (value != NULL)
        query_decode(item + name_len + 1, value_len, value);
      return value;
    }
    item = end != NULL ? end + 1 : NULL;
  }
  return NULL;
}

/* 1 when the query holds the parameter "name" (with or without a value). */
static inline int query_has(const char* query, const char* name) {
  char* value = query_value(query, name);
  free(value);
  return value != NULL;
}

/* The parameter "name" read as a decimal number, or fallback when absent or not one. */
static inline unsigned long query_number(const char* query, const char* name,
                                         unsigned long fallback) {
  char* value = query_value(query, name);
  unsigned long number = fallback;
  if (value != NULL && *value != '\0') {
    char* end = NULL;
    unsigned long parsed = strtoul(value, &end, 10);
    if (*end == '\0')
      number = parsed;
  }
  free(value);
  return number;
}

/* Sends len bytes through WriteClient; returns its BOOL. */
static inline BOOL write_bytes(EXTENSION_CONTROL_BLOCK* ecb, const void* data, size_t len) {
  DWORD count = (DWORD)len;
  return ecb->WriteClient(ecb->ConnID, (LPVOID)data, &count, HSE_IO_SYNC);
}

/* Sends a zero-terminated text through WriteClient. */
static inline BOOL write_text(EXTENSION_CONTROL_BLOCK* ecb, const char* text) {
  return write_bytes(ecb, text, strlen(text));
}

/* Sends printf-style formatted text through WriteClient. */
static inline BOOL write_format(EXTENSION_CONTROL_BLOCK* ecb, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
static inline BOOL write_format(EXTENSION_CONTROL_BLOCK* ecb, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int len = vsnprintf(NULL, 0, format, args);
  va_end(args);
  if (len < 0)
    return FALSE;
  char* text = (char*)malloc((size_t)len + 1);
  if (text == NULL)
    return FALSE;
  va_start(args, format);
  vsnprintf(text, (size_t)len + 1, format, args);
  va_end(args);
  BOOL result = write_bytes(ecb, text, (size_t)len);
  free(text);
  return result;
}

/* Sends a status line text ("200 OK") and a header block ending in an empty line
 * through HSE_REQ_SEND_RESPONSE_HEADER_EX. */
static inline BOOL send_header_ex(EXTENSION_CONTROL_BLOCK* ecb, const char* status,
                                  const char* header) {
  HSE_SEND_HEADER_EX_INFO info;
  info.pszStatus = status;
  info.pszHeader = header;
  info.cchStatus = (DWORD)strlen(status);
  info.cchHeader = (DWORD)strlen(header);
  info.fKeepConn = FALSE;
  return ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info, NULL,
                                    NULL);
}

/* Fills in the version for GetExtensionVersion. */
static inline void set_version(HSE_VERSION_INFO* version, const char* description) {
  version->dwExtensionVersion = HSE_VERSION;
  snprintf(version->lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN, "%s", description);
}

#endif /* QUENBY_MODULE_UTIL_H */
