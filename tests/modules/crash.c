/*
 * crash.dll: faults inside HttpExtensionProc, after writing "crash: before the fault\n"
 * through WriteClient. The query names the fault:
 *   segv   a write through a null pointer (SIGSEGV)
 *   fpe    an integer division by zero (SIGFPE)
 *   bus    a read of a mapped page beyond the end of an empty file (SIGBUS)
 *   thread a write through a null pointer on a thread the module starts itself, which
 *          no host can catch: the process ends
 * Any other query writes "crash: no fault asked\n" and succeeds; "bus" writes
 * "crash: cannot provoke a bus error\n" and returns HSE_STATUS_ERROR if it cannot map.
 *
 * The faulting functions are built without sanitizer checks so that a sanitizer build
 * still gets the real signal, which is what the server must survive.
 */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include "module_util.h"

#define NO_SANITIZE __attribute__((noinline, no_sanitize("address", "undefined")))

NO_SANITIZE static void fault_null_write(void) {
  volatile int* volatile target = NULL;
  *target = 1;
}

NO_SANITIZE static int fault_divide_by_zero(void) {
  volatile int zero = 0;
  volatile int one = 1;
  return one / zero;
}

/* Returns only when the page could not be mapped. */
NO_SANITIZE static int fault_bus(void) {
  FILE* file = tmpfile();
  if (file == NULL)
    return -1;
  long page = sysconf(_SC_PAGESIZE);
  void* map = mmap(NULL, (size_t)page, PROT_READ, MAP_SHARED, fileno(file), 0);
  if (map == MAP_FAILED) {
    fclose(file);
    return -1;
  }
  int value = *(volatile char*)map;
  munmap(map, (size_t)page);
  fclose(file);
  return value;
}

static void* fault_on_own_thread(void* unused) {
  (void)unused;
  fault_null_write();
  return NULL;
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  set_version(pVer, "Quenby crash test module");
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  const char* query = pECB->lpszQueryString != NULL ? pECB->lpszQueryString : "";
  if (strcmp(query, "segv") == 0) {
    write_text(pECB, "crash: before the fault\n");
    fault_null_write();
  } else if (strcmp(query, "fpe") == 0) {
    write_text(pECB, "crash: before the fault\n");
    write_format(pECB, "%d\n", fault_divide_by_zero());
  } else if (strcmp(query, "thread") == 0) {
    pthread_t thread;
    if (pthread_create(&thread, NULL, fault_on_own_thread, NULL) != 0)
      return HSE_STATUS_ERROR;
    pthread_join(thread, NULL);
  } else if (strcmp(query, "bus") == 0) {
    write_text(pECB, "crash: before the fault\n");
    fault_bus();
    write_text(pECB, "crash: cannot provoke a bus error\n");
    return HSE_STATUS_ERROR;
  } else {
    write_text(pECB, "crash: no fault asked\n");
  }
  return HSE_STATUS_SUCCESS;
}
