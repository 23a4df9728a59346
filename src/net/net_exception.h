#pragma once

#include "util/exception.h"

namespace quenby {

/// Root of the transport's and the HTTP engine's exceptions.
QUENBY_DECLARE_EXCEPTION(ENetException, Exception);

/// Exceptions that end a connection quietly (a peer that closed, for instance).
QUENBY_DECLARE_EXCEPTION(ESilentException, ENetException);

}  // namespace quenby
