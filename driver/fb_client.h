// The Firebird client library, reached through dlopen/dlsym: the driver
// links nothing of Firebird and takes only types and constants from ibase.h.
#pragma once

#include <ibase.h>

#include <string>

#include "driver/sql_driver.h"

namespace Firebird {
class IMaster;
}

namespace fbdriver {

struct FbClient {
  decltype(&isc_attach_database) attachDatabase = nullptr;
  decltype(&isc_detach_database) detachDatabase = nullptr;
  decltype(&isc_start_multiple) startMultiple = nullptr;
  decltype(&isc_commit_transaction) commitTransaction = nullptr;
  decltype(&isc_rollback_transaction) rollbackTransaction = nullptr;
  decltype(&isc_dsql_allocate_statement) allocateStatement = nullptr;
  decltype(&isc_dsql_prepare) prepare = nullptr;
  decltype(&isc_dsql_describe) describe = nullptr;
  decltype(&isc_dsql_describe_bind) describeBind = nullptr;
  decltype(&isc_dsql_execute) execute = nullptr;
  decltype(&isc_dsql_execute2) execute2 = nullptr;
  decltype(&isc_dsql_fetch) fetch = nullptr;
  decltype(&isc_dsql_free_statement) freeStatement = nullptr;
  decltype(&isc_dsql_sql_info) sqlInfo = nullptr;
  decltype(&isc_open_blob2) openBlob = nullptr;
  decltype(&isc_get_segment) getSegment = nullptr;
  decltype(&isc_close_blob) closeBlob = nullptr;
  decltype(&isc_create_blob2) createBlob = nullptr;
  decltype(&isc_put_segment) putSegment = nullptr;
  decltype(&fb_sqlstate) sqlState = nullptr;
  decltype(&fb_interpret) interpret = nullptr;
  // Null with a client library too old to have it: nothing can be cancelled then.
  decltype(&fb_cancel_operation) cancelOperation = nullptr;
  // The interfaces of Firebird 3 and the handles of what they make; null with
  // an older client library. A cursor opened through them fetches its rows
  // without the per-row work of isc_dsql_fetch.
  Firebird::IMaster* (*masterInterface)() = nullptr;
  decltype(&fb_get_database_handle) databaseHandle = nullptr;
  decltype(&fb_get_transaction_handle) transactionHandle = nullptr;
  bool HasInterfaces() const { return masterInterface && databaseHandle && transactionHandle; }

  // Loads the client library by name (once per name for the whole process;
  // it is never unloaded) and looks up every function above. Null when the
  // library does not load or lacks a function; *error then says why.
  static const FbClient* Load(const char* libraryName, std::string* error);
};

// True when a status vector reports a failure (warnings do not count).
inline bool Failed(const ISC_STATUS* status) { return status[0] == 1 && status[1] != 0; }

// A failure as a driver object reports it.
struct Failure {
  std::string text;
  std::string sqlState = {};  // five characters; empty for the driver's own failures
  TRefusalCode refusal = eRefusedOther;
};

// The server's words for a failed status vector (the lines that fb_interpret
// gives, joined by "\n") and its SQLSTATE; the refusal is left at other.
Failure StatusFailure(const FbClient& client, const ISC_STATUS* status);

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
