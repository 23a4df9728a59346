#include "util/exception.h"

#include <cerrno>
#include <cstring>
#include <ios>
#include <new>
#include <stdexcept>
#include <system_error>

namespace quenby {

void RaiseLastOSError(const std::string& what) {
  const int code = errno;
  throw EInOutError(what + ": " + std::strerror(code) + " (error " + std::to_string(code) + ")",
                    code);
}

std::string ExceptionClassName(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) {
    return own->ClassName();
  }
  if (dynamic_cast<const std::ios_base::failure*>(&e) != nullptr) {
    return "EInOutError";
  }
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
    return "EOutOfMemory";
  }
  if (dynamic_cast<const std::system_error*>(&e) != nullptr) {
    return "EOSError";
  }
  return "Exception";
}

}  // namespace quenby
