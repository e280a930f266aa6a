// A table as a transfer sees it: a reader of its rows in one snapshot, and
// a bulk inserter that owns every statement an import sends. Failures are
// thrown as EDatabaseError; a row the server refuses is handed to the
// inserter's refusal sink as EDataRefused (its kind, SQLSTATE and words).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "db/fields.h"

class TSQLConnection;
class TSQLDataSet;
class TSQLCommand;

// Reads every row of a table through a dataset, the count included, in one
// snapshot transaction (or in the transaction the connection has open), so
// that the rows are one consistent picture even while others write to the
// table. Its column names and its rows come from the one statement it opens,
// so they always agree. The dataset is made inactive and the snapshot ended
// when the reader goes, also after a failure.
class TTableReader {
 public:
  TTableReader(TSQLDataSet& dataSet, const std::string& tableName);
  ~TTableReader();
  TTableReader(const TTableReader&) = delete;
  TTableReader& operator=(const TTableReader&) = delete;

  // The table's columns in its order, arrays included.
  const std::vector<std::string>& ColumnNames() const;
  // The field holding column's value in the current row; null for a column
  // whose values cannot be read (an array).
  TField* Field(std::size_t column) const;
  // The rows of the table in the same snapshot.
  std::int64_t CountRows();
  bool AtEnd() const;
  void Next();
  // Ends the reading: the dataset inactive, the snapshot rolled back (it
  // changed nothing). Throws what closing throws.
  void Close();

 private:
  TSQLDataSet& m_dataSet;
  TSQLConnection* m_connection;
  bool m_ownTransaction = false;
};

// A column of a table as an import sees it.
struct TTableColumn {
  std::string name;
  // The kind of its field; none for a column without one (an array).
  std::optional<TFieldKind> kind;
  // COMPUTED BY: the server makes its values, it takes none.
  bool computed = false;
};

// The columns of tableName in the table's order, read through dataSet
// (which is inactive afterwards).
std::vector<TTableColumn> DescribeTable(TSQLDataSet& dataSet, const std::string& tableName);

// How the inserter takes the values of a column.
enum class TColumnInput {
  ciText,    // text that the server converts to the column's type
  ciDouble,  // a binary double (FLOAT and DOUBLE PRECISION), so that it arrives exactly
  ciBlob,    // text of any length, zero bytes included
};

// One value of a row.
struct TInsertValue {
  enum TKind { ivNull, ivText, ivDouble } kind = ivNull;
  std::string text;
  double real = 0;
};

struct TInsertRow {
  std::int64_t tag = 0;  // the caller's number for the row (its line), handed back with a refusal
  std::string source;    // the row as its source wrote it, handed back with a refusal
  std::vector<TInsertValue> values;  // one per column, in the inserter's order
};

// Inserts rows into one table inside a transaction of its own, committed
// every CommitEvery() rows and at Complete(). Over a server many rows travel
// in one round trip; embedded, each row is one statement. Either way a row
// the server refuses is undone alone, the sink is told, and the rows around
// it go in.
class TBulkInserter {
 public:
  using TRefusalSink = std::function<void(const TInsertRow& row, const EDataRefused& refusal)>;

  // Starts the transaction and prepares the INSERT of columns (names exactly
  // as the catalogue lists them) into tableName.
  TBulkInserter(TSQLConnection& connection, const std::string& tableName, const std::vector<std::string>& columns,
                TRefusalSink onRefused);
  // Rolls back what is not committed.
  ~TBulkInserter();
  TBulkInserter(const TBulkInserter&) = delete;
  TBulkInserter& operator=(const TBulkInserter&) = delete;

  static constexpr std::int64_t CommitEvery() { return 20000; }

  TColumnInput Input(std::size_t column) const { return m_columns[column].input; }

  // Inserts the row now or with the next rows of its batch.
  void Add(TInsertRow row);
  // Sends the rows still waiting in a batch.
  void Flush();
  // Flush and a last commit.
  void Complete();
  // After a failure: commits what was inserted when the transaction can
  // still be committed, else rolls it back. Never throws.
  void KeepWhatWasInserted() noexcept;

  std::int64_t Inserted() const { return m_inserted; }
  std::int64_t Committed() const { return m_committed; }

 private:
  struct TColumn {
    TColumnInput input = TColumnInput::ciText;
    std::uint32_t textBytes = 0;  // the most bytes a text input of a batch takes
  };

  void PrepareBatch(const std::string& insertHead);
  bool FitsBatch(const TInsertRow& row) const;
  void RunAlone(const TInsertRow& row);
  void Inserted(std::int64_t rows);
  void Commit();

  TSQLConnection& m_connection;
  TRefusalSink m_onRefused;
  std::vector<TColumn> m_columns;
  std::unique_ptr<TSQLCommand> m_single;
  std::unique_ptr<TSQLCommand> m_batch;
  int m_batchRows = 0;
  std::vector<TInsertRow> m_pending;
  std::int64_t m_inserted = 0;
  std::int64_t m_committed = 0;
};
