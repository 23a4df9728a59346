#pragma once

#include <exception>
#include <string>

namespace quenby {

/// Root of every exception the system raises. The class name is what the console shows in
/// its "Exception %s in Activate. Error is:"%s"." line, so each subclass reports its own.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message = {}) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

/// Declares an exception class that only adds its name to its base.
#define QUENBY_DECLARE_EXCEPTION(Name, Base)                          \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const noexcept override { return #Name; } \
  }

/// A text that should have been a number, a date or another typed value.
QUENBY_DECLARE_EXCEPTION(EConvertError, Exception);

/// A file operation failed; carries the operating system's error number.
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int error_code)
      : Exception(std::move(message)), error_code_(error_code) {}
  const char* ClassName() const noexcept override { return "EInOutError"; }
  int ErrorCode() const noexcept { return error_code_; }

 private:
  int error_code_;
};

/// Raises EInOutError for the current errno, the message naming what failed.
[[noreturn]] void RaiseLastOSError(const std::string& what);

/// Name of the class of any caught exception: ClassName for ours, a readable name otherwise.
std::string ExceptionClassName(const std::exception& e);

}  // namespace quenby
