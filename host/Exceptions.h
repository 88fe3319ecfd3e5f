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

// A failure of the operating system or of a loaded library; carries the
// system's error code (0 when there is none).
class EOSError : public Exception {
 public:
  explicit EOSError(std::string message, int error_code = 0)
      : Exception(std::move(message)), error_code_(error_code) {}
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

// An operation that the object's state does not allow.
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

// An object of the wrong class where a particular one is needed ("Invalid
// class typecast").
class EInvalidCast : public Exception {
 public:
  using Exception::Exception;
};

// Container errors: index out of range, duplicates where none are allowed.
class EListError : public Exception {
 public:
  using Exception::Exception;
};
class EStringListError : public EListError {
 public:
  using EListError::EListError;
};

// Component naming and ownership errors.
class EComponentError : public Exception {
 public:
  using Exception::Exception;
};

// Stream errors; ReadBuffer and WriteBuffer raise the two descendants when
// fewer bytes than asked for could be moved.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// A variant that cannot be read as the asked type.
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

// Thread misuse (for example resuming a finished thread).
class EThread : public Exception {
 public:
  using Exception::Exception;
};

// Throws EAbort.
[[noreturn]] void Abort();

// Throws EDatabaseError with the message.
[[noreturn]] void DatabaseError(const std::string& message);

}  // namespace rowset

#endif  // ROWSET_HOST_EXCEPTIONS_H_
