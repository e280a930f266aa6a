// A prepared DSQL statement with its output columns, and the one open result
// (cursor and transaction) it may have at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/fb_attachment.h"
#include "driver/sql_driver.h"

namespace Firebird {
class IMessageMetadata;
class IResultSet;
class IStatement;
class IStatus;
}

namespace fbdriver {

// An output column: its description as the cursor reports it, and where the
// client library puts its value for the current row.
struct Column {
  char name[32] = {};
  std::uint16_t type = fldUNKNOWN;
  std::uint16_t subtype = 0;
  std::uint32_t length = 0;
  std::int16_t precision = 0;
  std::int16_t scale = 0;
  bool readOnly = false;
  bool nullable = true;

  short sqlType = 0;  // without the null flag
  short sqlScale = 0;
  std::uint16_t sqlLength = 0;
  std::uint8_t charSet = 0;  // text columns and text blobs
  const char* data = nullptr;
  const short* indicator = nullptr;

  bool IsNull() const { return *indicator < 0; }
};

class Statement {
 public:
  explicit Statement(std::shared_ptr<Attachment> attachment);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Prepares sql in the transaction and describes its output columns. With
  // lookUpPrecision the declared precision of decimal columns is read from
  // the catalogue (in the same transaction).
  SQLResult Prepare(const char* sql, isc_tr_handle* transaction, bool lookUpPrecision, Failure& error);

  bool Prepared() const { return m_prepared && m_handle != 0; }
  // A SELECT (or a selectable block or procedure): execution opens a cursor.
  bool ReturnsRows() const;
  // A plain SELECT, which can read in a read-only transaction.
  bool IsPlainSelect() const { return m_type == isc_info_sql_stmt_select; }
  // COMMIT, ROLLBACK and SET TRANSACTION, which the driver does not run.
  bool ControlsTransaction() const;

  // Input parameters, numbered from 0 here; each starts null and keeps the
  // value last set. False for an index out of range.
  std::size_t ParameterCount() const { return m_params.size(); }
  const Column* ParameterDescription(std::size_t index) const {
    return index < m_params.size() ? &m_params[index].description : nullptr;
  }
  bool SetParameterNull(std::size_t index);
  bool SetParameterText(std::size_t index, const char* data, std::size_t length);
  bool SetParameterDouble(std::size_t index, double value);

  // Executes in the transaction, with the parameters' values (a text for a
  // blob parameter is written as a blob in that transaction first). For a statement that returns rows the
  // cursor is then open and Fetch reads from it.
  SQLResult Execute(isc_tr_handle* transaction, Failure& error);
  // Rows inserted, changed or deleted by the last execution.
  SQLResult RowsAffected(std::uint32_t* rows, Failure& error);

  // Takes over the transaction of the execution that opened the cursor;
  // returns the number that identifies this open result.
  std::uint64_t OpenResult(Transaction transaction);
  // The same for a cursor opened inside the connection's shared transaction,
  // which the result only borrows.
  std::uint64_t OpenSharedResult(isc_tr_handle* transaction);
  bool ResultOpen(std::uint64_t result) const { return m_resultOpen && m_result == result; }
  isc_tr_handle* ResultTransaction() { return m_resultShared ? m_resultShared : m_resultTransaction.Handle(); }
  // 0 for a row, kSQLNoData at the end, else a failure with *error set.
  SQLResult Fetch(Failure& error);
  // Closes the cursor and ends its transaction: committed, or rolled back.
  // A borrowed transaction is left as it is.
  void CloseResult(bool commit);
  // Closes the cursor when it runs inside the shared transaction, which is
  // about to end.
  void CloseSharedResult() {
    if (m_resultShared) CloseResult(true);
  }

  // Closes a cursor opened through the client's interfaces in the
  // transaction, which is about to end (the client frees the cursor with it).
  void TransactionEnds(isc_tr_handle transaction);

  // Frees the statement on the server; it can be neither executed nor read
  // afterwards. Called when the connection goes away before the statement.
  void Drop();

  const std::vector<Column>& Columns() const { return m_columns; }
  // The bytes the current row is fetched into: its values, then null flags
  // that are not among them (none when the row comes as one message).
  std::size_t RowBytes() const { return RowBlock().size() * sizeof(std::int64_t); }
  const char* RowValues() const { return reinterpret_cast<const char*>(RowBlock().data()); }
  const std::vector<short>& RowIndicators() const { return m_cursor ? kNoIndicators : m_indicators; }
  Attachment& Owner() { return *m_attachment; }

 private:
  const std::vector<std::int64_t>& RowBlock() const { return m_cursor ? m_message : m_buffer; }
  // Opens the cursor through the client's interfaces when the statement and
  // its transaction allow; false to open it through the handle instead.
  bool OpenInterfaceCursor(isc_tr_handle* transaction, SQLResult& result, Failure& error);
  // Closes that cursor and points the columns back at the descriptor's buffer.
  void CloseInterfaceCursor();
  void DropInterfaceStatement();
  Firebird::IStatus* InterfaceStatus();
  void DescribeColumns(isc_tr_handle* transaction, bool lookUpPrecision);
  SQLResult DescribeParameters(Failure& error);
  // Points the input descriptor at the parameters' values.
  SQLResult BindParameters(isc_tr_handle* transaction, Failure& error);
  // The status of a failed execution: refused values, or a server failure.
  SQLResult ExecutionFailure(const ISC_STATUS* status, Failure& error) const;
  void LookUpPrecisions(isc_tr_handle* transaction);
  SQLResult ServerFailure(const ISC_STATUS* status, Failure& error) const;

  std::shared_ptr<Attachment> m_attachment;
  isc_stmt_handle m_handle = 0;
  bool m_prepared = false;
  int m_type = 0;
  std::unique_ptr<char[]> m_sqlda;  // XSQLDA of the output columns
  std::vector<std::int64_t> m_buffer;
  std::vector<short> m_indicators;
  std::vector<Column> m_columns;

  struct Parameter {
    enum Kind { kNull, kText, kDouble };
    Column description;
    short sqlType = 0;  // as described, without the null flag
    short sqlSubtype = 0;
    Kind kind = kNull;
    std::string bytes;
    double real = 0;
    ISC_QUAD blob{};
    short indicator = -1;
  };
  std::unique_ptr<char[]> m_inSqlda;  // XSQLDA of the input parameters
  std::vector<Parameter> m_params;

  // A query without parameters is also prepared through the client's
  // interfaces, and its rows come as one message each.
  static const std::vector<short> kNoIndicators;
  std::string m_sql;
  Firebird::IStatus* m_status = nullptr;
  Firebird::IStatement* m_interface = nullptr;
  Firebird::IMessageMetadata* m_metadata = nullptr;
  bool m_interfaceRefused = false;  // prepared through the interfaces and found unlike the handle's
  std::vector<std::pair<std::uint32_t, std::uint32_t>> m_offsets;  // value and null flag in the message
  std::vector<std::int64_t> m_message;
  Firebird::IResultSet* m_cursor = nullptr;
  isc_tr_handle m_cursorTransaction = 0;

  bool m_resultOpen = false;
  std::uint64_t m_result = 0;
  Transaction m_resultTransaction;
  isc_tr_handle* m_resultShared = nullptr;
};

}  // namespace fbdriver
