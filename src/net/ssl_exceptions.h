#pragma once

#include "net/net_exception.h"

namespace quenby {

// Failures of the TLS handler: context set-up at activation, handshakes on peer threads.
QUENBY_DECLARE_EXCEPTION(EOSSLCouldNotLoadSSLLibrary, ENetException);
QUENBY_DECLARE_EXCEPTION(EOSSLModeNotSet, ENetException);
QUENBY_DECLARE_EXCEPTION(EOSSLGetMethodError, ENetException);
QUENBY_DECLARE_EXCEPTION(EOSSLCreatingContextError, ENetException);
QUENBY_DECLARE_EXCEPTION(EOSSLLoadingRootCertError, ENetException);
QUENBY_DECLARE_EXCEPTION(EOSSLLoadingCertError, ENetException);
QUENBY_DECLARE_EXCEPTION(EOSSLLoadingKeyError, ENetException);
QUENBY_DECLARE_EXCEPTION(EOSSLSettingCipherError, ENetException);
QUENBY_DECLARE_EXCEPTION(EOSSLDataBindingError, ENetException);
QUENBY_DECLARE_EXCEPTION(EOSSLAcceptError, ENetException);
/// A self-signed certificate could not be made (net/self_signed_certificate.h).
QUENBY_DECLARE_EXCEPTION(ESelfSignedCertificateError, ENetException);

inline constexpr const char* RSOSSLCouldNotLoadSSLLibrary = "Could not load SSL library.";
inline constexpr const char* RSOSSLModeNotSet = "Mode has not been set.";
inline constexpr const char* RSOSSLGetMethodError = "Error geting SSL method.";
inline constexpr const char* RSOSSLCreatingContextError = "Error creating SSL context.";
inline constexpr const char* RSOSSLLoadingRootCertError = "Could not load root certificate.";
inline constexpr const char* RSOSSLLoadingCertError = "Could not load certificate.";
inline constexpr const char* RSOSSLLoadingKeyError = "Could not load key, check password.";
inline constexpr const char* RSOSSLSettingCipherError = "SetCipher failed.";
inline constexpr const char* RSOSSLDataBindingError = "Error binding data to SSL socket.";
inline constexpr const char* RSOSSLAcceptError = "Error accepting connection with SSL.";
inline constexpr const char* RSSelfSignedCertificateError =
    "Could not make a self-signed certificate.";

}  // namespace quenby
