// A table as an import sees it: a bulk inserter that owns every statement
// an import sends. Failures are thrown as EDatabaseError; a row the server
// refuses is handed to the inserter's refusal sink as EDataRefused (its
// kind, SQLSTATE and words).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/exceptions.h"

class TSQLConnection;
class TSQLCommand;

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

// A row on its way into the table. Its place in the source is given by two
// numbers of the caller's (lines of a file): tag, where it begins, and next,
// where the row after it begins.
struct TInsertRow {
  std::int64_t tag = 0;              // handed back with a refusal
  std::int64_t next = 0;             // once the row is settled, everything before next is
  std::string source;                // the row as its source wrote it, handed back with a refusal
  std::vector<TInsertValue> values;  // one per column, in the inserter's order
};

// How an inserter changes the table.
struct TInsertOptions {
  // A row whose key matches a row of the table updates it instead of being
  // inserted: on matchColumns, or on the primary key when that is empty.
  bool upsert = false;
  std::vector<std::string> matchColumns;
  // The table's rows are deleted first, in the same one transaction.
  bool replace = false;
  // One transaction for everything: no commits on the way, and a failure or
  // a stop rolls it all back.
  bool oneTransaction = false;
  // Everything is rolled back at the end, as a trial.
  bool rollBackAtEnd = false;
  // The rows go into the transaction the connection has open, which the
  // caller ends: nothing is committed or rolled back here.
  bool sharedTransaction = false;

  // No commit on the way: a replace, a trial and a shared transaction are
  // one transaction too.
  bool OneTransaction() const { return oneTransaction || replace || rollBackAtEnd || sharedTransaction; }
};

// Inserts rows into one table inside a transaction of its own, committed
// every CommitEvery() rows settled (inserted or refused) and at Complete().
// Rows are settled in the order they were added: over a server many rows
// travel in one round trip, embedded each row is one statement, and either
// way a row the server refuses is judged at its place, undone alone, and the
// sink is told before any row after it is sent.
class TBulkInserter {
 public:
  // Told of each refused row; answers false to drop the rows added after it
  // that are not sent yet (a Stop), true to go on.
  using TRefusalSink = std::function<bool(const TInsertRow& row, const EDataRefused& refusal)>;
  // Told before each commit, to keep what must be kept before the rows are
  // in the table (the refused rows, say); what it throws ends the commit
  // unmade, as a failed commit does.
  using TCommittingSink = std::function<void()>;
  // Told after each commit that succeeded: everything of the source before
  // settledEnd is now in the table or was refused.
  using TCommitSink = std::function<void(std::int64_t committedRows, std::int64_t settledEnd)>;

  // Starts the transaction and prepares the INSERT of columns (names exactly
  // as the catalogue lists them) into tableName. firstLine: where the rows of
  // the source begin, the settled end until a row is settled.
  // An upsert matches on a key that can match one row at most: the primary
  // key, or matchColumns when a primary key, unique constraint or unique
  // index of the table lies within them; throws EDatabaseError saying why
  // otherwise, or when a key column is not among columns. A row whose key
  // holds a null is refused, since it would match every row whose key does.
  TBulkInserter(TSQLConnection& connection, const std::string& tableName,
                const std::vector<std::string>& columns, std::int64_t firstLine, TRefusalSink onRefused,
                TCommittingSink onCommitting, TCommitSink onCommitted, const TInsertOptions& options = {});
  // Rolls back what is not committed.
  ~TBulkInserter();
  TBulkInserter(const TBulkInserter&) = delete;
  TBulkInserter& operator=(const TBulkInserter&) = delete;

  static constexpr std::int64_t CommitEvery() { return 20000; }
  // Through a server, a blob value of at most this many bytes travels with
  // its row as text, not as a blob of its own made by round trips first.
  static constexpr std::uint32_t InlineBlobBytes() { return 1000; }

  TColumnInput Input(std::size_t column) const { return m_columns[column].input; }

  // Inserts the row now or with the next rows of its batch.
  void Add(TInsertRow row);
  // A part of the source that holds no row for the table (a line refused
  // before it was sent): everything before next is settled once the rows
  // before it are.
  void Pass(std::int64_t next);
  // Sends the rows still waiting in a batch.
  void Flush();
  // Flush and a last commit.
  void Complete();
  // After a failure or a stop: commits what was settled when the transaction
  // can still be committed, else rolls it back (at once when the failure was
  // that the connection is lost). Never throws.
  void KeepWhatWasSettled(bool connectionLost = false) noexcept;

  std::int64_t Inserted() const { return m_inserted; }
  // Everything was rolled back (a trial, or one transaction that failed or stopped).
  bool RolledBack() const { return m_rolledBack; }
  std::int64_t Committed() const { return m_committed; }
  // Everything of the source before it is in the table or was refused;
  // nothing from it on is in the table.
  std::int64_t CommittedEnd() const { return m_committedEnd; }
  // A commit failed because the connection was lost while it was on its
  // way: whether the rows settled up to UnknownEnd() are in the table cannot
  // be known (those before CommittedEnd() are).
  bool OutcomeUnknown() const { return m_outcomeUnknown; }
  std::int64_t UnknownEnd() const { return m_unknownEnd; }

 private:
  struct TColumn {
    TColumnInput input = TColumnInput::ciText;
    bool textBlob = false;
    std::uint32_t textBytes = 0;  // the most bytes a text input of a batch takes
    // The set a batch input takes the text in, the one the INSERT's own
    // parameter takes it in, and the most bytes of one of its characters.
    std::string charSet = "NONE";
    std::uint16_t bytesPerChar = 1;

    std::uint32_t TextCharacters() const { return std::max<std::uint32_t>(textBytes / bytesPerChar, 1); }
  };

  void FindKey(const std::string& tableName, const std::vector<std::string>& columns);
  bool RefuseNullKey(const TInsertRow& row);
  void PrepareBatch(const std::string& insertHead, const std::string& insertTail);
  void RollBackAll() noexcept;
  bool FitsBatch(const TInsertRow& row) const;
  void SendBatch();
  void RunAlone(const TInsertRow& row);
  void Settled(std::int64_t inserted, std::int64_t next);
  void CommitTransaction();
  void Commit(bool startNext);

  TSQLConnection& m_connection;
  TRefusalSink m_onRefused;
  TCommittingSink m_onCommitting;
  TCommitSink m_onCommitted;
  TInsertOptions m_options;
  bool m_rolledBack = false;
  std::vector<TColumn> m_columns;
  std::vector<std::size_t> m_key;  // upsert: the key's columns among m_columns
  std::vector<std::string> m_columnNames;
  std::unique_ptr<TSQLCommand> m_single;
  std::unique_ptr<TSQLCommand> m_batch;
  int m_batchRows = 0;
  std::vector<TInsertRow> m_pending;
  std::int64_t m_inserted = 0;
  std::int64_t m_committed = 0;
  std::int64_t m_settledRows = 0;      // inserted or refused
  std::int64_t m_settledAtCommit = 0;  // m_settledRows at the last commit
  std::int64_t m_settledEnd;
  std::int64_t m_committedEnd;
  bool m_dropped = false;  // a refusal asked to drop the rows waiting after it
  bool m_outcomeUnknown = false;
  std::int64_t m_unknownEnd = 0;
};

// Deletes every row of tableName in the transaction the connection has
// open (or in one of its own). Throws EDatabaseError.
void DeleteAllRows(TSQLConnection& connection, const std::string& tableName);
