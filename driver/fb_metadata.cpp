#include "driver/fb_objects.h"
#include "driver/fb_quote.h"

namespace fbdriver {

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
