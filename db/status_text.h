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

// Throws EDatabaseError with DescribeStatus's text when status is not 0
// (EDataRefused when the server refused the values of a statement).
inline void CheckStatus(SQLResult status, ISQLObject* object, std::string& lastError) {
  if (status == kSQLSuccess) return;
  if (status == kSQLValueRefused) throw EDataRefused(DescribeStatus(status, object, lastError));
  throw EDatabaseError(DescribeStatus(status, object, lastError));
}
