// A table as an export sees it: a reader of its rows in one snapshot.
// Failures are thrown as EDatabaseError.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "db/fields.h"

class TSQLConnection;
class TSQLDataSet;
class TRowImages;
class TRowCount;

// Reads every row of a table through a dataset, the count included, in one
// snapshot transaction (or in the transaction the connection has open), so
// that the rows are one consistent picture even while others write to the
// table. Its column names and its rows come from the one statement it opens,
// so they always agree. The dataset is made inactive and the snapshot ended
// when the reader goes, also after a failure.
//
// Through a server, every blob costs round trips of its own; so a blob
// column travels inside the row as text when its value is short
// (InlineBlobBytes() bytes at most), and only longer values as blobs. The
// values are the same bytes either way.
class TTableReader {
 public:
  // What to read: the rows of a table (those where condition holds, when
  // one is given), or the rows of a query (its columns named as the query
  // names them). The user's own SQL runs as it stands, with the user's
  // rights, in a read-only snapshot: a query that tries to write fails with
  // the server's words. A query whose columns are not each named once (so
  // that its file could not be read back) is refused before a row is read.
  struct TSource {
    std::string table;
    std::string condition;
    std::string query;
    // Picks the columns to read, in the order wanted, from the names of all
    // (every column when not given; may throw). A table's other columns are
    // not fetched at all.
    std::function<std::vector<std::size_t>(const std::vector<std::string>& names)> choose;
  };

  TTableReader(TSQLDataSet& dataSet, const std::string& tableName)
      : TTableReader(dataSet, TSource{tableName, {}, {}, {}}) {}
  TTableReader(TSQLDataSet& dataSet, const TSource& source);
  ~TTableReader();
  TTableReader(const TTableReader&) = delete;
  TTableReader& operator=(const TTableReader&) = delete;

  // The longest blob value that travels inside its row, in bytes.
  static constexpr int InlineBlobBytes() { return 2000; }

  // The columns read (the table's, or the chosen ones), arrays included.
  const std::vector<std::string>& ColumnNames() const { return m_names; }
  // Rows copied as bytes, to be read after the reader has moved on (see
  // TRowImages): ImageSize and CopyRow here, ShowImage and ImageField on one
  // other thread.
  std::size_t ImageSize();
  void CopyRow(char* image);
  void ShowImage(const char* image);
  // The field holding column's value in the row last shown; null for a
  // column whose values cannot be read (an array). Ask again for each row.
  TField* ImageField(std::size_t column) const;
  // The rows in the same snapshot; 0 when they cannot be counted.
  std::int64_t CountRows();
  // The rows counted while this reader fetches (see TRowCount): on a
  // connection of their own when the reader has a snapshot of its own, else
  // in the snapshot it shares, at once. Null for a query, which runs once.
  std::unique_ptr<TRowCount> CountRowsAside();
  bool AtEnd() const;
  void Next();
  // Ends the reading: the dataset inactive, the snapshot rolled back (it
  // changed nothing). Throws what closing throws.
  void Close();

 private:
  // from: the table's name as the server reads it, with its WHERE when filtered.
  void OpenColumns(const TSource& source, const std::string& from, bool server);
  void OpenQuery(const std::string& sql);

  TSQLDataSet& m_dataSet;
  TSQLConnection* m_connection;
  std::string m_countSql;  // empty: the dataset counts the table
  bool m_ownTransaction = false;
  bool m_ofQuery = false;
  std::vector<std::string> m_names;
  // Per column its dataset column, and for a blob read inline the column of
  // its long values (the inline one holds null then); -1 for none.
  std::vector<int> m_column;
  std::vector<int> m_longColumn;
  std::unique_ptr<TRowImages> m_images;
};

// The count of a reader's rows for a progress bar, taken on a connection of
// its own while the reader fetches, so that a second scan of the table costs
// the fetching no time. That connection's snapshot starts a moment after the
// reader's, so the count may differ by rows others committed in between: a
// bar clamps it, and the rows written are what the reader gives. When the
// other connection cannot be had or cannot count, the count is taken in the
// reader's own snapshot after all.
class TRowCount {
 public:
  explicit TRowCount(std::int64_t rows) : m_rows(rows) { m_ready = true; }
  // Counts on a connection made as like is (with its settings and
  // parameters) with sql; reader counts when that fails.
  TRowCount(TTableReader& reader, const TSQLConnection& like, std::string sql);
  // A count still running is cancelled and waited for.
  ~TRowCount();
  TRowCount(const TRowCount&) = delete;
  TRowCount& operator=(const TRowCount&) = delete;

  // The count has come (or failed); Get then waits no more.
  bool Ready() const { return m_ready.load(std::memory_order_acquire); }
  // Waits for the count; only on the reader's thread.
  std::int64_t Get();

 private:
  void Count(const TSQLConnection& like, const std::string& sql);

  TTableReader* m_reader = nullptr;
  std::optional<std::int64_t> m_rows;
  std::atomic<bool> m_ready{false};
  std::mutex m_mutex;
  TSQLConnection* m_counting = nullptr;  // while it may be cancelled
  bool m_abandoned = false;
  std::thread m_thread;
};
