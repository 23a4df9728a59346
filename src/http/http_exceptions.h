#pragma once

#include "net/net_exception.h"

namespace quenby {

/// An "Authorization" header named a scheme other than Basic.
QUENBY_DECLARE_EXCEPTION(EHTTPUnsupportedAuthorisationScheme, ENetException);

/// SendHeader on a reply whose header block has already been written.
QUENBY_DECLARE_EXCEPTION(EHTTPHeaderAlreadyWritten, ENetException);

/// SessionState changed while the server is active.
QUENBY_DECLARE_EXCEPTION(EHTTPCannotSwitchSessionStateWhenActive, ENetException);

/// A request's header block has more lines than the server reads for one request.
QUENBY_DECLARE_EXCEPTION(EHTTPTooManyHeaderLines, ENetException);
QUENBY_DECLARE_EXCEPTION(EHTTPHeaderBlockTooLong, ENetException);

/// A second registration of an authentication scheme name.
QUENBY_DECLARE_EXCEPTION(EAlreadyRegisteredAuthenticationMethod, ENetException);

/// Base64 text that cannot be decoded (its length is not a multiple of 4).
QUENBY_DECLARE_EXCEPTION(EDecoderError, ENetException);

}  // namespace quenby
