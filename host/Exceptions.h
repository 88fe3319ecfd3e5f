// Exception classes of the host framework layer.
//
// Everything above the wire client reports failures by throwing. All of the
// library's exceptions derive from `Exception`, which carries a message text;
// `EDatabaseError` is the base of the data-access errors and `EAbort` is the
// silent abort that an application's event handler uses to stop an operation
// without an error message.
#ifndef ROWSET_HOST_EXCEPTIONS_H_
#define ROWSET_HOST_EXCEPTIONS_H_

#include <exception>
#include <string>

namespace rowset {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The silent abort: callers catch it and stop without reporting.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// A text that does not convert to the wanted value (dates, numbers).
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Throws EAbort.
[[noreturn]] void Abort();

// Throws EDatabaseError with the message.
[[noreturn]] void DatabaseError(const std::string& message);

}  // namespace rowset

#endif  // ROWSET_HOST_EXCEPTIONS_H_
