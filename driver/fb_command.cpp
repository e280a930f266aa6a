#include "driver/fb_objects.h"

namespace fbdriver {

SQLResult Command::setOption(TCommandOption option, std::int32_t) {
  switch (option) {
    case eCommRowsetSize:  // the client library sizes its own fetch batches
    case eCommStoredProc:  // a procedure is run through the SQL text given
      return kSQLSuccess;
    default:
      return Fail(kNotSupported, "Unknown statement option " + std::to_string(option));
  }
}

SQLResult Command::prepare(const char* sql, std::uint16_t) {
  m_prepared.reset();
  if (!sql) return Fail(kInvalidParameter, "No SQL text given");
  if (!m_attachment->Attached()) return Fail(kInvalidHandle, "The connection is closed");
  // The statement is prepared in a short transaction of its own: it is run
  // later, each time in a new one.
  std::string error;
  Transaction transaction(m_attachment);
  SQLResult status = transaction.Start(true, error);
  if (status != kSQLSuccess) return Fail(status, error);
  auto statement = std::make_shared<Statement>(m_attachment);
  status = statement->Prepare(sql, transaction.Handle(), true, error);
  if (status != kSQLSuccess) return Fail(status, error);
  transaction.Commit(error);
  m_prepared = std::move(statement);
  return kSQLSuccess;
}

SQLResult Command::execute(ISQLCursor** cursor) {
  if (!cursor) return Fail(kInvalidParameter, "No place for the cursor given");
  *cursor = nullptr;
  m_rowsAffected = 0;
  if (!m_prepared || !m_prepared->Prepared()) return Fail(kInvalidHandle, "No statement is prepared");
  // A cursor still open from the previous execution ends here.
  m_prepared->CloseResult(true);
  std::string error;
  Transaction transaction(m_attachment);
  SQLResult status = transaction.Start(m_prepared->IsPlainSelect(), error);
  if (status != kSQLSuccess) return Fail(status, error);
  return Run(m_prepared, std::move(transaction), cursor);
}

SQLResult Command::executeImmediate(const char* sql, ISQLCursor** cursor) {
  if (!cursor) return Fail(kInvalidParameter, "No place for the cursor given");
  *cursor = nullptr;
  m_rowsAffected = 0;
  if (!sql) return Fail(kInvalidParameter, "No SQL text given");
  if (!m_attachment->Attached()) return Fail(kInvalidHandle, "The connection is closed");
  // Prepared and run in one transaction: what kind of statement it is shows
  // only once it is prepared.
  std::string error;
  Transaction transaction(m_attachment);
  SQLResult status = transaction.Start(false, error);
  if (status != kSQLSuccess) return Fail(status, error);
  auto statement = std::make_shared<Statement>(m_attachment);
  status = statement->Prepare(sql, transaction.Handle(), true, error);
  if (status != kSQLSuccess) return Fail(status, error);
  return Run(statement, std::move(transaction), cursor);
}

SQLResult Command::Run(const std::shared_ptr<Statement>& statement, Transaction transaction,
                       ISQLCursor** cursor) {
  if (statement->ControlsTransaction()) {
    return Fail(kNotSupported,
                "Transaction statements are not run: every statement has a transaction of its own");
  }
  std::string error;
  SQLResult status = statement->Execute(transaction.Handle(), error);
  if (status != kSQLSuccess) return Fail(status, error);  // the transaction rolls back
  if (statement->ReturnsRows()) {
    std::uint64_t result = statement->OpenResult(std::move(transaction));
    *cursor = new Cursor(statement, result);
    return kSQLSuccess;
  }
  std::uint32_t rows = 0;
  status = statement->RowsAffected(&rows, error);
  if (status != kSQLSuccess) return Fail(status, error);
  status = transaction.Commit(error);
  if (status != kSQLSuccess) return Fail(status, error);
  m_rowsAffected = rows;
  return kSQLSuccess;
}

SQLResult Command::getRowsAffected(std::uint32_t* rows) {
  if (!rows) return Fail(kInvalidParameter, "No place for the count given");
  *rows = m_rowsAffected;
  return kSQLSuccess;
}

}  // namespace fbdriver
