#pragma once

#include <quenby/isapi.h>

namespace quenby {

/// How a guarded call into a module ended.
enum class TGuardOutcome {
  Returned,  ///< the module returned normally; the result is valid
  Faulted,   ///< SIGSEGV, SIGBUS or SIGFPE on this thread inside the call
  Threw,     ///< a C++ exception escaped the module
};

/// Calls `GetExtensionVersion` (into `info`) with crash recovery; see GuardedExtensionProc.
TGuardOutcome GuardedGetExtensionVersion(PFN_GETEXTENSIONVERSION proc, HSE_VERSION_INFO* info,
                                         BOOL& result);

/// Calls `HttpExtensionProc` so that a fault raised on this thread inside the call returns
/// here instead of ending the process. The module's state after a fault is whatever it
/// was when the fault hit (it may hold locks or half-built data); the module stays loaded.
/// Faults on other threads, or outside a guarded call, keep their normal effect.
TGuardOutcome GuardedExtensionProc(PFN_HTTPEXTENSIONPROC proc, EXTENSION_CONTROL_BLOCK* ecb,
                                   DWORD& result);

}  // namespace quenby
