// The failures the program raises. Every message is shown to the user as it
// stands (the error box adds a full stop where one is missing).
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Why the database refused the values of a row.
enum class TRefusalKind {
  rkOther,
  rkConversion,       // a text that is no value of the column's type
  rkTruncation,       // a value too long or too large for the column
  rkNotNull,          // null for a column that takes none
  rkKey,              // a primary or unique key already holds the value
  rkForeignKey,       // a reference to a row that is not there, or one still referred to
  rkCheck,            // a CHECK constraint
  rkTransliteration,  // a character the column's character set cannot hold
  rkRaised,           // an exception raised by a trigger or procedure
};

// A failure of the database layer: its own texts or the driver's and server's.
// SqlState() is the server's five-character SQLSTATE ("" when the failure
// is not the server's, or it gave none).
class EDatabaseError : public Exception {
 public:
  explicit EDatabaseError(const std::string& message, std::string sqlState = {})
      : Exception(message), m_sqlState(std::move(sqlState)) {}
  const std::string& SqlState() const { return m_sqlState; }
  // The connection to the server is gone (SQLSTATE class 08).
  bool ConnectionLost() const { return m_sqlState.starts_with("08"); }

 private:
  std::string m_sqlState;
};

// The server refused the values a statement was given (conversion, range,
// length, constraint, duplicate key): that statement alone was undone; the
// connection and its transaction are still usable.
class EDataRefused : public EDatabaseError {
 public:
  explicit EDataRefused(const std::string& message, std::string sqlState = {},
                        TRefusalKind kind = TRefusalKind::rkOther)
      : EDatabaseError(message, std::move(sqlState)), m_kind(kind) {}
  TRefusalKind Kind() const { return m_kind; }

 private:
  TRefusalKind m_kind;
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
