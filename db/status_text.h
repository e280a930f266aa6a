// Turning a driver status into the layer's failure text.
#pragma once

#include <string>

#include "base/exceptions.h"
#include "driver/sql_driver.h"

// The failure text of a non-zero status of object: the fixed text of one of
// the driver's own codes, or, from 255 on, the object's own error text. The
// text is recorded in lastError, which also serves as the fallback when the
// object cannot give its text.
std::string DescribeStatus(SQLResult status, ISQLObject* object, std::string& lastError);

// Throws for a non-zero status: EDataRefused when the server refused the
// values of a statement, with why and the server's SQLSTATE; else
// EDatabaseError with DescribeStatus's text and, for a server failure, its
// SQLSTATE.
[[noreturn]] void ThrowStatus(SQLResult status, ISQLObject* object, std::string& lastError);

inline void CheckStatus(SQLResult status, ISQLObject* object, std::string& lastError) {
  if (status != kSQLSuccess) ThrowStatus(status, object, lastError);
}
