// The dataset object: opens a table (or runs a statement) on a connection
// and walks its rows forward only. The dataset's own failures carry its name
// and ": " in front (for example "sdsTable: Cursor not returned from Query").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/fields.h"
#include "db/sql_connection.h"
#include "db/sql_statement.h"

enum TSQLCommandType { ctQuery = 0, ctTable = 1 };

class TRowImages;

class TSQLDataSet {
  friend class TRowImages;

 public:
  // A closed dataset in query mode bound to connection (which may be null),
  // named for its messages; an unnamed dataset puts no name in front.
  TSQLDataSet(std::string name, TSQLConnection* connection);
  ~TSQLDataSet();
  TSQLDataSet(const TSQLDataSet&) = delete;
  TSQLDataSet& operator=(const TSQLDataSet&) = delete;

  const std::string& Name() const { return m_name; }
  // Null once the connection has been destroyed.
  TSQLConnection* SQLConnection() const { return m_connection; }

  TSQLCommandType CommandType() const { return m_commandType; }
  // Refused while open; a change drops the prepared statement and the cached
  // count, and clears CommandText.
  void SetCommandType(TSQLCommandType value);
  const std::string& CommandText() const { return m_commandText; }
  // Refused while open; a statement is stored without leading characters of
  // code 32 or less, a table name (table mode) exactly as given. A change
  // drops the prepared statement and the cached count.
  void SetCommandText(const std::string& value);

  bool Active() const;
  // Opens (table mode: every row of the table CommandText; query mode: the
  // statement CommandText) or closes. Opening connects first when needed and
  // stands on the first row; closing keeps the prepared statement for the
  // next open of the same command.
  void SetActive(bool value);

  // Back to the first row: nothing right after opening, else a close and a
  // new open, which runs the statement again.
  void MoveFirst();
  // To the next row; at the last row AtEnd() becomes true and that row stays current.
  void MoveNext();
  // True when no row is left, and while closed.
  bool AtEnd() const;

  // The name of every column the open statement describes, in its order,
  // as the server gives it (also where a field had to take another name,
  // and for columns without a field object, such as arrays); empty while
  // closed.
  const std::vector<std::string>& ColumnNames() const;
  // The field of column (counted from 0 in ColumnNames), null for a column
  // without one.
  TField* ColumnField(std::size_t column) const;

  int NumberOfFields() const;
  // Throws "List index out of bounds (%d)" for an index outside the fields.
  // The field lives until the dataset closes.
  TField& FieldAt(int index);
  // The first field whose name equals name ignoring letter case; throws
  // "Field '%s' not found".
  TField& FieldNamed(const std::string& name);

  const std::string& LastError() const { return m_lastError; }

 private:
  friend class TSQLConnection;
  struct Impl;

  void Open();
  // Runs the statement, preparing it first when needed: the cursor, which the
  // caller then owns, or null when the statement returns no rows.
  ISQLCursor* Execute();
  void Close();
  // Builds the fields from cursor (which the dataset then owns) and fetches the first row.
  void OpenCursor(ISQLCursor* cursor);
  void PrepareStatement();
  void Fetch();
  void DropStatement();
  TSQLConnection& Connection();
  void CheckClosed() const;
  void CheckActive() const;
  [[noreturn]] void Fail(const std::string& text) const;

  std::string m_name;
  TSQLConnection* m_connection;
  TSQLCommandType m_commandType = ctQuery;
  std::string m_commandText;
  std::string m_lastError;
  std::unique_ptr<Impl> m_impl;
};

// Copies of an open dataset's rows as bytes, read later through fields of
// their own while the dataset fetches the next rows: one thread copies,
// another (one at a time) shows an image and reads its fields. It must go
// before the dataset closes.
class TRowImages {
 public:
  explicit TRowImages(TSQLDataSet& dataSet);
  ~TRowImages();
  TRowImages(const TRowImages&) = delete;
  TRowImages& operator=(const TRowImages&) = delete;

  std::size_t ImageSize() const { return m_size; }
  // The dataset's current row into image (ImageSize() bytes).
  void Copy(char* image);
  // Makes image the row the fields read.
  void Show(const char* image);
  // The field of column (from 0) over the shown image; null for a column
  // without a field.
  TField* ColumnField(std::size_t column) const;

 private:
  TSQLDataSet& m_dataSet;
  TDriverPtr<ISQLCursor> m_reader;
  std::vector<std::unique_ptr<TField>> m_fields;
  std::vector<TField*> m_columnFields;
  TRowSource m_row;
  std::string m_lastError;
  std::size_t m_size = 0;
};

// Opens every row of tableName in table mode, closing what was open.
void OpenTable(TSQLDataSet& dataSet, const std::string& tableName);
// Makes the dataset inactive on the way out, also after a failure; a
// failure of the closing itself is swallowed then, since the one that got
// us there is the one the user sees.
void CloseQuietly(TSQLDataSet& dataSet) noexcept;
