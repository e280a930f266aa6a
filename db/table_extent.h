// How far a read of a table has come, told without counting its rows.
// Failures are thrown as EDatabaseError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class TSQLConnection;

// The server keeps a table's rows on data pages, which the table's pointer
// pages list in order (RDB$PAGES names the pointer pages), and each row's
// RDB$DB_KEY holds the number of its data page. A plain read of a table,
// filtered or not, passes its data pages in that order: the page of the row
// last read, over the table's pages, is the share of the read done.
//
// Every pointer page but the last lists as many data pages as a page can
// hold; how many the last one lists is found by a binary search of lookups
// by RDB$DB_KEY (of a data page's first lines), each a fetch of one page: a
// dozen lookups where a count would scan the table, run on the server as
// one statement. Where rows were deleted the search may stop short; the
// share then waits below 1 until the read ends. Where the last rows were
// deleted, the search looks further back.
class TTableExtent {
 public:
  // Measures tableName in the connection's transaction. None for what keeps
  // no pages of its own (a view, a temporary or external table), and for an
  // on-disk structure whose layout this program does not know.
  static std::optional<TTableExtent> Measure(TSQLConnection& connection, const std::string& tableName);

  // The share of the table's data pages before the one that holds the row of
  // dbKey: from 0 to below 1, never less than the share given before. A key
  // of another table (or of another form) leaves the share as it was.
  double Share(std::string_view dbKey);

 private:
  TTableExtent(int relation, std::int64_t recordsPerPage, std::int64_t pages)
      : m_relation(relation), m_recordsPerPage(recordsPerPage), m_pages(pages) {}

  int m_relation;
  std::int64_t m_recordsPerPage;
  std::int64_t m_pages;  // found by the search; more once a row lies beyond them
  double m_share = 0;
};
