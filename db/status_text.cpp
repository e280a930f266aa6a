#include "db/status_text.h"

#include <array>
#include <utility>
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

TRefusalKind RefusalKind(std::int32_t refusal) {
  switch (static_cast<TRefusalCode>(refusal)) {
    case eRefusedOther:
      return TRefusalKind::rkOther;
    case eRefusedConversion:
      return TRefusalKind::rkConversion;
    case eRefusedTruncation:
      return TRefusalKind::rkTruncation;
    case eRefusedNotNull:
      return TRefusalKind::rkNotNull;
    case eRefusedKey:
      return TRefusalKind::rkKey;
    case eRefusedForeignKey:
      return TRefusalKind::rkForeignKey;
    case eRefusedCheck:
      return TRefusalKind::rkCheck;
    case eRefusedTransliteration:
      return TRefusalKind::rkTransliteration;
    case eRefusedRaised:
      return TRefusalKind::rkRaised;
  }
  return TRefusalKind::rkOther;
}

struct TErrorState {
  std::string sqlState;
  TRefusalKind kind = TRefusalKind::rkOther;
};

// The object's SQLSTATE and refusal kind; none when it cannot give them.
TErrorState ObjectErrorState(ISQLObject* object) {
  if (!object) return {};
  char sqlState[6] = {};
  std::int32_t refusal = eRefusedOther;
  if (object->getErrorState(sqlState, &refusal) != kSQLSuccess) return {};
  sqlState[5] = '\0';
  return {sqlState, RefusalKind(refusal)};
}

}  // namespace

void ThrowStatus(SQLResult status, ISQLObject* object, std::string& lastError) {
  std::string text = DescribeStatus(status, object, lastError);
  if (status < kSQLServerError) throw EDatabaseError(text);
  TErrorState state = ObjectErrorState(object);
  if (status == kSQLValueRefused) throw EDataRefused(text, std::move(state.sqlState), state.kind);
  throw EDatabaseError(text, std::move(state.sqlState));
}

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
