#pragma once

#include <mutex>

namespace quenby {

/// Makes the TLS library ready for use; the first call does the work, later ones return at
/// once. Any thread. Raises EOSSLCouldNotLoadSSLLibrary when the library cannot start.
void LoadOpenSSLLibrary();

/// The three process-wide locks that serialise the TLS callbacks across peer threads, so
/// that an event handler of the server sees one call at a time.
struct TSSLCallbackLocks {
  std::mutex Status;    ///< OnStatusInfo: the information callback and the cipher line
  std::mutex Password;  ///< OnGetPassword
  std::mutex Verify;    ///< OnVerifyPeer
};

/// The callback locks; they live as long as the process.
TSSLCallbackLocks& SSLCallbackLocks();

/// Frees the library's state of the calling thread (error queue, random generators); a later
/// call into the library on this thread makes it anew.
void ReleaseSSLThreadState();

/// Forgets the calling thread's queued library errors, so that a later failure is judged
/// on its own errors only.
void ClearSSLErrors();

}  // namespace quenby
