#pragma once

#include <quenby/isapi.h>

namespace quenby {

/// The output, input and support callbacks of the control block. Each finds its block
/// through ConnID; a ConnID that names no live block gives FALSE and touches nothing.
/// None of them raises: failures are FALSE results.

/// Appends *lpdwBytes bytes to the reply body; the engine sends them after the run.
BOOL WINAPI WriteClient(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
/// Reads exactly *lpdwSize further bytes from the client's connection (past the request
/// body, which the block already carries). Failure: FALSE with *lpdwSize = 0.
BOOL WINAPI ReadClient(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
/// Runs one HSE_REQ_* request; an unknown code gives FALSE and leaves the last error.
BOOL WINAPI ServerSupportFunction(HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer,
                                  LPDWORD lpdwSize, LPDWORD lpdwDataType);

}  // namespace quenby
