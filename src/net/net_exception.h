#pragma once

#include "util/exception.h"

namespace quenby {

/// Root of the transport's and the HTTP engine's exceptions.
QUENBY_DECLARE_EXCEPTION(ENetException, Exception);

/// Exceptions that end a connection quietly (a peer that closed, for instance). Nothing raises
/// this class itself: it is the base that lets callers catch every quiet ending at once.
QUENBY_DECLARE_EXCEPTION(ESilentException, ENetException);

}  // namespace quenby
