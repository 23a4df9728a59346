/*
 * noentry.dll: a shared object with neither extension entry point, only an unrelated
 * export. The server must report the missing GetExtensionVersion.
 */
#include <quenby/isapi.h>

/* Proves the object exports something, just not what a module needs. */
ISAPI_EXPORT int NotAnExtension(void);

int NotAnExtension(void) {
  return 42;
}
