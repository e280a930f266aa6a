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

enum TSQLCommandType { ctQuery = 0, ctTable = 1, ctStoredProc = 2 };

class TSQLDataSet {
 public:
  TSQLDataSet(std::string name, TSQLConnection* connection);
  ~TSQLDataSet();
  TSQLDataSet(const TSQLDataSet&) = delete;
  TSQLDataSet& operator=(const TSQLDataSet&) = delete;

  const std::string& Name() const { return m_name; }
  TSQLConnection* SQLConnection() const { return m_connection; }

  TSQLCommandType CommandType() const { return m_commandType; }
  // Refused while open; a change drops the prepared statement, the cached
  // count and SortFieldNames, and clears CommandText.
  void SetCommandType(TSQLCommandType value);
  const std::string& CommandText() const { return m_commandText; }
  // Refused while open; stored without leading characters of code 32 or less.
  void SetCommandText(const std::string& value);
  const std::string& SchemaName() const { return m_schemaName; }
  void SetSchemaName(std::string value) { m_schemaName = std::move(value); }
  const std::string& SortFieldNames() const { return m_sortFieldNames; }
  void SetSortFieldNames(std::string value) { m_sortFieldNames = std::move(value); }
  std::int32_t MaxBlobSize() const { return m_maxBlobSize; }
  void SetMaxBlobSize(std::int32_t value) { m_maxBlobSize = value; }

  bool Active() const;
  void SetActive(bool value);

  void MoveFirst();
  void MoveNext();
  bool AtEnd() const;

  int NumberOfFields() const;
  // Throws "List index out of bounds (%d)" for an index outside the fields.
  TField& FieldAt(int index);
  // The first field whose name equals name ignoring letter case; throws
  // "Field '%s' not found".
  TField& FieldNamed(const std::string& name);
  // The current row's value; a name holding ";" yields the list of values.
  TVariant ValueNamed(const std::string& name);

  // Rows of the table in table mode; one count query per open, then cached.
  std::int32_t CountRecords();
  // Executes CommandText at once; returns the rows it affected.
  std::int32_t RunDirect();

  const std::string& LastError() const { return m_lastError; }

 private:
  friend class TSQLConnection;
  struct Impl;

  std::string m_name;
  TSQLConnection* m_connection;
  TSQLCommandType m_commandType = ctQuery;
  std::string m_commandText;
  std::string m_schemaName;
  std::string m_sortFieldNames;
  std::int32_t m_maxBlobSize = -1;
  std::string m_lastError;
  std::unique_ptr<Impl> m_impl;
};
