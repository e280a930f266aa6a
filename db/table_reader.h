// A table as an export sees it: a reader of its rows in one snapshot.
// Failures are thrown as EDatabaseError.
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
#include "db/table_extent.h"

class TSQLConnection;
class TSQLDataSet;
class TRowImages;

// Reads every row of a table through a dataset, in one snapshot transaction
// (or in the transaction the connection has open), so that the rows are one
// consistent picture even while others write to the table. Its column names
// and its rows come from the one statement it opens, so they always agree.
// The dataset is made inactive and the snapshot ended when the reader goes,
// also after a failure.
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
  // How much of the table the read has passed, from 0 to below 1, told by
  // the page of the row last copied (see TTableExtent); none for a query, a
  // view, or a table whose pages cannot be told.
  std::optional<double> ShareRead();
  bool AtEnd() const;
  void Next();
  // Ends the reading: the dataset inactive, the snapshot rolled back (it
  // changed nothing). Throws what closing throws.
  void Close();

 private:
  // from: the table's name as the server reads it, with its WHERE when filtered.
  void OpenTableRows(const TSource& source, const std::string& from, bool server);
  void OpenQuery(const std::string& sql);

  TSQLDataSet& m_dataSet;
  TSQLConnection* m_connection;
  std::string m_tableName;  // empty for a query
  bool m_ownTransaction = false;
  std::vector<std::string> m_names;
  // Per column its dataset column, and for a blob read inline the column of
  // its long values (the inline one holds null then); -1 for none.
  std::vector<int> m_column;
  std::vector<int> m_longColumn;
  // Where the table's rows lie, and the column of each row's RDB$DB_KEY.
  std::optional<TTableExtent> m_extent;
  std::size_t m_keyColumn = 0;
  std::unique_ptr<TRowImages> m_images;
};
