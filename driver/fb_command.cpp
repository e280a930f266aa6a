#include <algorithm>
#include <cstring>

#include "driver/fb_charsets.h"
#include "driver/fb_objects.h"

namespace fbdriver {

SQLResult Command::setOption(TCommandOption option, std::int32_t) {
  switch (option) {
    case eCommRowsetSize:  // the client library sizes its own fetch batches
      return kSQLSuccess;
    default:
      return Fail(kNotSupported, "Unknown statement option " + std::to_string(option));
  }
}

SQLResult Command::prepare(const char* sql, std::uint16_t) {
  m_prepared.reset();
  if (!sql) return Fail(kInvalidParameter, "No SQL text given");
  if (!m_attachment->Attached()) return Fail(kInvalidHandle, "The connection is closed");
  // The statement is prepared inside the shared transaction, or else in a
  // short transaction of its own: it is run later, each time in a new one.
  Failure error;
  Transaction own(m_attachment);
  Firebird::ITransaction* transaction = m_attachment->SharedTransaction();
  if (!transaction) {
    SQLResult status = own.Start(true, error);
    if (status != kSQLSuccess) return Fail(status, error);
    transaction = own.Get();
  }
  auto statement = std::make_shared<Statement>(m_attachment);
  SQLResult status = statement->Prepare(sql, transaction, true, error);
  if (status != kSQLSuccess) return Fail(status, error);
  own.Commit(error);
  m_prepared = std::move(statement);
  return kSQLSuccess;
}

SQLResult Command::execute(ISQLCursor** cursor) {
  if (!cursor) return Fail(kInvalidParameter, "No place for the cursor given");
  *cursor = nullptr;
  m_rowsAffected = 0;
  m_countFrom.reset();
  if (!m_prepared || !m_prepared->Prepared()) return Fail(kInvalidHandle, "No statement is prepared");
  // A cursor still open from the previous execution ends here.
  m_prepared->CloseResult(true);
  if (!m_attachment->Attached()) return Fail(kInvalidHandle, "The connection is closed");
  Failure error;
  Transaction transaction(m_attachment);
  if (!m_attachment->SharedTransaction()) {
    SQLResult status = transaction.Start(m_prepared->IsPlainSelect(), error);
    if (status != kSQLSuccess) return Fail(status, error);
  }
  return Run(m_prepared, std::move(transaction), cursor);
}

SQLResult Command::executeImmediate(const char* sql, ISQLCursor** cursor) {
  if (!cursor) return Fail(kInvalidParameter, "No place for the cursor given");
  *cursor = nullptr;
  m_rowsAffected = 0;
  m_countFrom.reset();
  if (!sql) return Fail(kInvalidParameter, "No SQL text given");
  if (!m_attachment->Attached()) return Fail(kInvalidHandle, "The connection is closed");
  // Prepared and run in one transaction: what kind of statement it is shows
  // only once it is prepared.
  Failure error;
  Transaction transaction(m_attachment);
  if (!m_attachment->SharedTransaction()) {
    SQLResult status = transaction.Start(false, error);
    if (status != kSQLSuccess) return Fail(status, error);
  }
  Firebird::ITransaction* running =
      transaction.Active() ? transaction.Get() : m_attachment->SharedTransaction();
  auto statement = std::make_shared<Statement>(m_attachment);
  SQLResult status = statement->Prepare(sql, running, true, error);
  if (status != kSQLSuccess) return Fail(status, error);
  return Run(statement, std::move(transaction), cursor);
}

SQLResult Command::Run(const std::shared_ptr<Statement>& statement, Transaction transaction,
                       ISQLCursor** cursor) {
  if (statement->ControlsTransaction()) {
    return Fail(kNotSupported,
                "Transaction statements are not run: transactions are started and ended by the "
                "connection's own calls");
  }
  // Without a transaction of its own the statement runs inside the shared one.
  const bool shared = !transaction.Active();
  Firebird::ITransaction* running = shared ? m_attachment->SharedTransaction() : transaction.Get();
  if (!running) return Fail(kInvalidHandle, "The connection is closed");
  Failure error;
  // A failure undoes the statement alone: its own transaction rolls back,
  // the shared one stays with what ran before.
  SQLResult status = statement->Execute(running, error);
  if (status != kSQLSuccess) return Fail(status, error);
  if (statement->ReturnsRows()) {
    std::uint64_t result =
        shared ? statement->OpenSharedResult(running) : statement->OpenResult(std::move(transaction));
    *cursor = new Cursor(statement, result);
    return kSQLSuccess;
  }
  if (shared) {
    // Counting the rows is a call of its own: made only when they are asked
    // for, while the shared transaction still holds them.
    m_countFrom = statement;
    return kSQLSuccess;
  }
  std::uint64_t rows = 0;
  status = statement->RowsAffected(&rows, error);
  if (status != kSQLSuccess) return Fail(status, error);
  status = transaction.Commit(error);
  if (status != kSQLSuccess) return Fail(status, error);
  m_rowsAffected = rows;
  return kSQLSuccess;
}

SQLResult Command::getRowsAffected(std::uint64_t* rows) {
  if (!rows) return Fail(kInvalidParameter, "No place for the count given");
  if (m_countFrom) {
    Failure error;
    SQLResult status = m_countFrom->RowsAffected(&m_rowsAffected, error);
    m_countFrom.reset();
    if (status != kSQLSuccess) return Fail(status, error);
  }
  *rows = m_rowsAffected;
  return kSQLSuccess;
}

SQLResult Command::NoSuchParameter(std::uint16_t index) {
  if (!m_prepared) return Fail(kInvalidHandle, "No statement is prepared");
  return Fail(kOutOfRange, "Parameter " + std::to_string(index) + " is out of range");
}

SQLResult Command::getParameterCount(std::uint16_t* count) {
  if (!count) return Fail(kInvalidParameter, "No place for the count given");
  *count = m_prepared ? static_cast<std::uint16_t>(m_prepared->ParameterCount()) : 0;
  return kSQLSuccess;
}

SQLResult Command::getParameterType(std::uint16_t index, std::uint16_t* type, std::uint16_t* subtype,
                                    std::uint32_t* length) {
  const Column* found = m_prepared && index > 0 ? m_prepared->ParameterDescription(index - 1u) : nullptr;
  if (!found) return NoSuchParameter(index);
  if (type) *type = found->type;
  if (subtype) *subtype = found->subtype;
  if (length) *length = found->type == fldBLOB ? 0 : found->sqlLength;
  return kSQLSuccess;
}

SQLResult Command::getParameterCharSet(std::uint16_t index, char* name, std::uint16_t* bytesPerChar) {
  const Column* found = m_prepared && index > 0 ? m_prepared->ParameterDescription(index - 1u) : nullptr;
  if (!found) return NoSuchParameter(index);
  if (!name || !bytesPerChar) return Fail(kInvalidParameter, "No place for the character set given");
  const bool text = found->type == fldZSTRING || (found->type == fldBLOB && found->subtype == fldstMEMO);
  const char* known = text ? CharSetName(found->charSet) : "";
  // A set of the database's own making: a text the server converts is in
  // the connection's set, and the connection names that.
  std::string charSet = known ? known : m_attachment->Settings().charSet;
  charSet.resize(std::min<std::size_t>(charSet.size(), 31));
  std::memcpy(name, charSet.c_str(), charSet.size() + 1);
  *bytesPerChar = static_cast<std::uint16_t>(text ? BytesPerChar(found->charSet) : 1);
  return kSQLSuccess;
}

SQLResult Command::setParameterNull(std::uint16_t index) {
  if (!m_prepared || index == 0 || !m_prepared->SetParameterNull(index - 1u)) return NoSuchParameter(index);
  return kSQLSuccess;
}

SQLResult Command::setParameterText(std::uint16_t index, const char* data, std::uint32_t length) {
  if (!m_prepared || index == 0 || !m_prepared->SetParameterText(index - 1u, data, length))
    return NoSuchParameter(index);
  return kSQLSuccess;
}

SQLResult Command::setParameterDouble(std::uint16_t index, double value) {
  if (!m_prepared || index == 0 || !m_prepared->SetParameterDouble(index - 1u, value))
    return NoSuchParameter(index);
  return kSQLSuccess;
}

}  // namespace fbdriver
