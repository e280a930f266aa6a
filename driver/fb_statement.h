// A prepared statement with its output columns and input parameters, and the
// one open result (cursor and transaction) it may have at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/fb_attachment.h"
#include "driver/sql_driver.h"

namespace fbdriver {

// An output column or an input parameter: its description as the driver
// reports it, and where its value and null flag lie in the message of a row
// (the client's own layout, the null flag inside the message).
struct Column {
  char name[32] = {};
  std::uint16_t type = fldUNKNOWN;
  std::uint16_t subtype = 0;
  std::uint32_t length = 0;
  std::int16_t precision = 0;
  std::int16_t scale = 0;
  bool readOnly = false;
  bool nullable = true;

  unsigned sqlType = 0;  // without the null flag
  int sqlSubtype = 0;
  int sqlScale = 0;
  unsigned sqlLength = 0;
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

  // Prepares sql in the transaction and describes its output columns and
  // input parameters. With lookUpPrecision the declared precision of decimal
  // columns is read from the catalogue (in the same transaction).
  SQLResult Prepare(const char* sql, Firebird::ITransaction* transaction, bool lookUpPrecision,
                    Failure& error);

  bool Prepared() const { return m_statement != nullptr; }
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
  // blob parameter is written as a blob in that transaction first). For a
  // statement that returns rows the cursor is then open and Fetch reads from it.
  SQLResult Execute(Firebird::ITransaction* transaction, Failure& error);
  // Rows inserted, changed or deleted by the last execution.
  SQLResult RowsAffected(std::uint64_t* rows, Failure& error);

  // Takes over the transaction of the execution that opened the cursor;
  // returns the number that identifies this open result.
  std::uint64_t OpenResult(Transaction transaction);
  // The same for a cursor opened inside the connection's shared transaction,
  // which the result only borrows.
  std::uint64_t OpenSharedResult(Firebird::ITransaction* transaction);
  bool ResultOpen(std::uint64_t result) const { return m_resultOpen && m_result == result; }
  Firebird::ITransaction* ResultTransaction() const {
    return m_resultShared ? m_resultShared : m_resultTransaction.Get();
  }
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
  // Closes the cursor when it was opened in the transaction, which is about
  // to end (the client frees the cursor with it).
  void TransactionEnds(Firebird::ITransaction* transaction);

  // Frees the statement on the server; it can be neither executed nor read
  // afterwards. Called when the connection goes away before the statement.
  void Drop();

  const std::vector<Column>& Columns() const { return m_columns; }
  // The message a row is fetched into: every value and its null flag.
  std::size_t RowBytes() const { return m_row.size() * sizeof(std::int64_t); }
  const char* RowValues() const { return reinterpret_cast<const char*>(m_row.data()); }
  Attachment& Owner() { return *m_attachment; }

 private:
  struct Parameter {
    enum Kind { kNull, kText, kDouble };
    Column description;
    Kind kind = kNull;
    std::string bytes;
    double real = 0;
  };
  // How a parameter's value travels: its type, subtype, length, scale and
  // character set in the input message.
  struct Sent {
    unsigned type = 0;
    int subtype = 0;
    unsigned length = 0;
    int scale = 0;
    unsigned charSet = 0;
    bool operator==(const Sent&) const = default;
  };

  void DescribeColumns(Firebird::ITransaction* transaction, bool lookUpPrecision);
  void DescribeParameters();
  // Lays the parameters' values out in the input message, describing it
  // anew when a value travels otherwise than in the last one.
  SQLResult BindParameters(Firebird::ITransaction* transaction, Failure& error);
  // Writes text as a new blob of the transaction; *id names it.
  SQLResult WriteBlob(Firebird::ITransaction* transaction, const std::string& text, ISC_QUAD* id,
                      Failure& error);
  // The status of a failed execution: refused values, or a server failure.
  SQLResult ExecutionFailure(Failure& error);
  SQLResult ServerFailure(Failure& error);
  void LookUpPrecisions(Firebird::ITransaction* transaction);
  void CloseCursor();

  std::shared_ptr<Attachment> m_attachment;
  Status m_status;
  Firebird::IStatement* m_statement = nullptr;
  unsigned m_type = 0;
  Firebird::IMessageMetadata* m_output = nullptr;
  std::vector<std::int64_t> m_row;  // the output message, 8-byte aligned
  std::vector<Column> m_columns;

  Firebird::IMessageMetadata* m_input = nullptr;      // as the server describes the parameters
  Firebird::IMessageMetadata* m_sentInput = nullptr;  // as the values travel
  std::vector<Parameter> m_params;
  std::vector<Sent> m_sent;
  std::vector<std::pair<unsigned, unsigned>> m_inputOffsets;  // value and null flag
  std::vector<std::int64_t> m_inputMessage;

  Firebird::IResultSet* m_cursor = nullptr;
  Firebird::ITransaction* m_cursorTransaction = nullptr;
  bool m_resultOpen = false;
  std::uint64_t m_result = 0;
  Transaction m_resultTransaction;
  Firebird::ITransaction* m_resultShared = nullptr;
};

}  // namespace fbdriver
