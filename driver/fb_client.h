// The Firebird client library, reached through dlopen/dlsym: the driver
// links nothing of Firebird, takes types and constants from ibase.h and works
// through the client's interfaces (firebird/Interface.h), whose calls are
// virtual and need no symbol at build time.
#pragma once

#include <firebird/Interface.h>
#include <ibase.h>

#include <string>

#include "driver/sql_driver.h"

namespace fbdriver {

struct FbClient {
  // Every attachment, transaction, statement, cursor and blob comes from here.
  Firebird::IMaster* master = nullptr;
  // The server's words and SQLSTATE of a status vector.
  decltype(&fb_interpret) interpret = nullptr;
  decltype(&fb_sqlstate) sqlState = nullptr;

  // Loads the client library by name (once per name for the whole process;
  // it is never unloaded) and looks up the functions above. Null when the
  // library does not load or lacks one; *error then says why.
  static const FbClient* Load(const char* libraryName, std::string* error);
};

// The status of calls through the client's interfaces, owned by one thread.
class Status {
 public:
  explicit Status(const FbClient& client) : m_status(client.master->getStatus()) {}
  ~Status() { m_status.dispose(); }
  Status(const Status&) = delete;
  Status& operator=(const Status&) = delete;

  // For the next call: what an earlier call left must not show through.
  Firebird::CheckStatusWrapper* Next() {
    m_status.init();
    return &m_status;
  }
  // True when the last call failed (warnings do not count).
  bool Failed() const { return (m_status.getState() & Firebird::IStatus::STATE_ERRORS) != 0; }
  // The status vector of that failure.
  const ISC_STATUS* Errors() const { return m_status.getErrors(); }

 private:
  Firebird::CheckStatusWrapper m_status;
};

// A failure as a driver object reports it.
struct Failure {
  std::string text;
  std::string sqlState = {};  // five characters; empty for the driver's own failures
  TRefusalCode refusal = eRefusedOther;
};

// The server's words for a failed status vector (the lines that fb_interpret
// gives, joined by "\n") and its SQLSTATE; the refusal is left at other.
Failure StatusFailure(const FbClient& client, const ISC_STATUS* status);
inline Failure StatusFailure(const FbClient& client, const Status& status) {
  return StatusFailure(client, status.Errors());
}

// True when a failed status with that SQLSTATE says the server refused the
// values a statement was given (data exception, constraint, duplicate key,
// trigger exception, update conflict), so that the statement alone was
// undone; false for a lost connection, a cancelled call and everything else.
bool RefusedValues(const ISC_STATUS* status, const std::string& sqlState);

// Why the server refused the values, from the first code of the status
// vector that tells (a general "arithmetic exception" is followed by the one
// that says which); eRefusedOther when none does.
TRefusalCode RefusalKind(const ISC_STATUS* status);

}  // namespace fbdriver
