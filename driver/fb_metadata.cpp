#include <cstring>

#include "driver/fb_objects.h"
#include "driver/fb_quote.h"

namespace fbdriver {

SQLResult MetaData::setOptionText(TMetaDataOption option, const char* value) {
  if (option != eMetaSchemaName)
    return Fail(kNotSupported, "Unknown catalogue option " + std::to_string(option));
  // Firebird has no schemas; the name is kept but qualifies nothing.
  m_schemaName = value ? value : "";
  return kSQLSuccess;
}

SQLResult MetaData::getOption(TMetaDataOption option, void* buffer, std::int32_t bufferSize,
                              std::int32_t* length) {
  if (!buffer) return Fail(kInvalidParameter, "No buffer given");
  switch (option) {
    case eMetaObjectQuoteChar:
      if (bufferSize < 1) return Fail(kInvalidLength, "The buffer is too small for the option's value");
      *static_cast<char*>(buffer) = '"';
      if (length) *length = 1;
      return kSQLSuccess;
    case eMetaTransactionsSupported:
    case eMetaMultipleTransactions: {
      std::int32_t yes = 1;
      if (bufferSize < static_cast<std::int32_t>(sizeof yes)) {
        return Fail(kInvalidLength, "The buffer is too small for the option's value");
      }
      std::memcpy(buffer, &yes, sizeof yes);
      if (length) *length = sizeof yes;
      return kSQLSuccess;
    }
    default:
      return Fail(kNotSupported, "Unknown catalogue option " + std::to_string(option));
  }
}

SQLResult MetaData::getTables(const char* pattern, std::uint32_t kinds, ISQLCursor** cursor) {
  if (kinds == 0) kinds = kTableKindTable | kTableKindView;
  std::string which;
  auto either = [&which](const char* condition) {
    which += (which.empty() ? "" : " OR ") + std::string(condition);
  };
  if (kinds & kTableKindTable) either("(COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND RDB$VIEW_BLR IS NULL)");
  if (kinds & kTableKindView) either("(COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND RDB$VIEW_BLR IS NOT NULL)");
  if (kinds & kTableKindSystem) either("COALESCE(RDB$SYSTEM_FLAG, 0) <> 0");
  if (which.empty()) which = "1 = 0";  // synonyms: Firebird has none

  std::string sql =
      "SELECT TRIM(TRAILING FROM RDB$RELATION_NAME) AS TABLE_NAME FROM RDB$RELATIONS WHERE (" + which + ")";
  if (pattern && *pattern) sql += " AND TRIM(TRAILING FROM RDB$RELATION_NAME) LIKE " + SqlLiteral(pattern);
  sql += " ORDER BY 1";
  return Query(sql, cursor);
}

SQLResult MetaData::getColumns(const char* table, const char* columnPattern, std::uint32_t,
                               ISQLCursor** cursor) {
  if (!table) return Fail(kInvalidParameter, "No table name given");
  std::string sql =
      "SELECT TRIM(TRAILING FROM RDB$FIELD_NAME) AS COLUMN_NAME FROM RDB$RELATION_FIELDS"
      " WHERE RDB$RELATION_NAME = " +
      SqlLiteral(table);
  if (columnPattern && *columnPattern) {
    sql += " AND TRIM(TRAILING FROM RDB$FIELD_NAME) LIKE " + SqlLiteral(columnPattern);
  }
  sql += " ORDER BY RDB$FIELD_POSITION";
  return Query(sql, cursor);
}

SQLResult MetaData::Query(const std::string& sql, ISQLCursor** cursor) {
  if (!cursor) return Fail(kInvalidParameter, "No place for the cursor given");
  *cursor = nullptr;
  if (!m_attachment->Attached()) return Fail(kInvalidHandle, "The connection is closed");
  Failure error;
  Transaction transaction(m_attachment);
  SQLResult status = transaction.Start(true, error);
  if (status != kSQLSuccess) return Fail(status, error);
  auto statement = std::make_shared<Statement>(m_attachment);
  status = statement->Prepare(sql.c_str(), transaction.Get(), false, error);
  if (status == kSQLSuccess) status = statement->Execute(transaction.Get(), error);
  if (status != kSQLSuccess) return Fail(status, error);
  std::uint64_t result = statement->OpenResult(std::move(transaction));
  *cursor = new Cursor(statement, result);
  return kSQLSuccess;
}

}  // namespace fbdriver
