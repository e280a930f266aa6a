#include "db/status_text.h"

#include <array>
#include <vector>

namespace {

constexpr const char* kNoMapping = "Driver Error: No Mapping for Error Code Found";
constexpr const char* kMappingFailed = "SQL Error: Error mapping failed";

// Codes 1 to 20; 17 and 20 have no text of their own.
constexpr std::array<const char*, 21> kDriverTexts = {
    nullptr,
    "Driver Error: Insufficient Memory for Operation",
    "Driver Error: Invalid Field Type",
    "Driver Error: Invalid Handle",
    "Driver Error: Invalid Time",
    "Driver Error: Operation Not Supported",
    "Driver Error: Invalid Data Translation",
    "Driver Error: Invalid Parameter",
    "Driver Error: Parameter/Column out of Range",
    "Driver Error: Parameter Not Set",
    "Driver Error: Result set at EOF",
    "Driver Error: Invalid Username/Password",
    "Driver Error: Invalid Precision",
    "Driver Error: Invalid Length",
    "Driver Error: Invalid Transaction Isolation Level",
    "Driver Error: Invalid Transaction ID",
    "Driver Error: Duplicate Transaction ID",
    nullptr,
    "Driver Error: Local Transaction already active",
    "Driver Error: Multiple Transactions not Enabled",
    nullptr,
};

// The object's own text; when it cannot be asked, the text recorded last.
std::string ObjectErrorText(ISQLObject* object, const std::string& lastError) {
  const std::string fallback = lastError.empty() ? kMappingFailed : lastError;
  if (!object) return fallback;
  std::uint32_t length = 0;
  if (object->getErrorMessageLen(&length) != kSQLSuccess) return fallback;
  std::vector<char> buffer(std::size_t{length} + 1, '\0');
  if (object->getErrorMessage(buffer.data()) != kSQLSuccess) return fallback;
  buffer[length] = '\0';
  std::string text(buffer.data());
  return text.empty() ? kMappingFailed : text;
}

}  // namespace

std::string DescribeStatus(SQLResult status, ISQLObject* object, std::string& lastError) {
  std::string text;
  if (status >= kSQLServerError) {
    text = ObjectErrorText(object, lastError);
  } else if (status < kDriverTexts.size() && kDriverTexts[status]) {
    text = kDriverTexts[status];
  } else {
    text = kNoMapping;
  }
  lastError = text;
  return text;
}
