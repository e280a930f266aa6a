// The failures the program raises. Every message is shown to the user as it
// stands (the error box adds a full stop where one is missing).
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure of the database layer: its own texts or the driver's and server's.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// The server refused the values a statement was given (conversion, range,
// length, constraint, duplicate key): that statement alone was undone; the
// connection and its transaction are still usable.
class EDataRefused : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
};

// A text that should have been a number (or date) and is not.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A text file operation failed; Code() is the error code behind the message.
class EInOutError : public Exception {
 public:
  EInOutError(int code, const std::string& message) : Exception(message), m_code(code) {}
  int Code() const { return m_code; }

 private:
  int m_code;
};

// Ends an operation without showing anything.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};
