// What the database's catalogue says of its tables: which there are, their
// columns as an import sees them, their unique keys and the sets of their
// text blobs, and the order foreign keys ask for.
// Failures are thrown as EDatabaseError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/fields.h"

class TSQLConnection;
class TSQLDataSet;

// A column of a table as an import sees it.
struct TTableColumn {
  std::string name;
  // The kind of its field; none for a column without one (an array).
  std::optional<TFieldKind> kind;
  // COMPUTED BY: the server makes its values, it takes none.
  bool computed = false;
  // A row needs a value for it: NOT NULL, without a default, not an
  // identity column, and no BEFORE trigger on the table that could fill it.
  bool required = false;
};

// The columns of tableName in the table's order, read through dataSet
// (which is inactive afterwards).
std::vector<TTableColumn> DescribeTable(TSQLDataSet& dataSet, const std::string& tableName);

// An active unique index of a table: those of its primary key and unique
// constraints among them.
struct TUniqueKey {
  bool primary = false;
  std::vector<std::string> columns;
};
std::vector<TUniqueKey> UniqueKeys(TSQLConnection& connection, const std::string& tableName);

// Each column of tableName with its type as declared, in the table's column
// order: "NUMERIC(38,4)", "VARCHAR(20) CHARACTER SET UTF8", "BLOB SUB_TYPE
// TEXT", "TIMESTAMP WITH TIME ZONE", "COMPUTED BY" for a computed column.
std::vector<std::pair<std::string, std::string>> DeclaredTypes(TSQLConnection& connection,
                                                               const std::string& tableName);

// The character set each text blob column of tableName is declared in, by
// column name ("NONE" where none is).
std::vector<std::pair<std::string, std::string>> TextBlobCharSets(TSQLConnection& connection,
                                                                  const std::string& tableName);

// Where a table keeps its rows: its relation's number, and how many pointer
// pages list its data pages. None for a view, a global temporary or an
// external table, and a table that has no pages yet.
struct TTablePages {
  int relation = 0;
  std::int64_t pointerPages = 0;
};
std::optional<TTablePages> TablePages(TSQLConnection& connection, const std::string& tableName);

// A table or view of the database.
struct TListedTable {
  std::string name;
  // It keeps rows of its own: neither a view nor a global temporary table,
  // whose rows end with their transaction or connection.
  bool keepsRows = false;
};
// The tables and views of the database, system tables aside, in name order.
std::vector<TListedTable> ListTables(TSQLConnection& connection);

// tables ordered so that a table another one refers to by a foreign key
// comes before it; tables in a cycle of references keep their order.
std::vector<std::string> ParentsFirst(TSQLConnection& connection, const std::vector<std::string>& tables);
