// A statement prepared once and executed many times with input parameters,
// on a connection (inside its transaction when one is active). Failures are
// thrown as EDatabaseError; a statement whose values the server refused
// throws EDataRefused, and only that statement was undone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "driver/sql_driver.h"

class TSQLConnection;
class TSQLStatement;

// A parameter as the server describes it (column type codes of the driver).
struct TSQLParamType {
  std::uint16_t type = fldUNKNOWN;
  std::uint16_t subtype = 0;
  std::uint32_t length = 0;  // bytes; 0 for a blob
  // Text and text blobs: the set the server takes the text in (NONE and
  // OCTETS: bytes as they are) and the most bytes one of its characters
  // takes; "" and 1 for the others.
  std::string charSet;
  std::uint16_t bytesPerChar = 1;
};

class TSQLCommand {
 public:
  explicit TSQLCommand(TSQLConnection& connection);
  ~TSQLCommand();
  TSQLCommand(const TSQLCommand&) = delete;
  TSQLCommand& operator=(const TSQLCommand&) = delete;

  // Prepares sql with its "?" parameters, connecting first when needed;
  // every parameter starts null.
  void Prepare(const std::string& sql);
  // Parameters are numbered from 1; the values hold until set again.
  TSQLParamType ParamType(int index);
  void SetNull(int index);
  // Bytes the server converts to the parameter's type; a blob of any size.
  void SetText(int index, std::string_view text);
  void SetDouble(int index, double value);

  // Runs the prepared statement; the rows it inserted, changed or deleted.
  std::int64_t Execute();
  // The same without asking how many rows, which costs a call of its own.
  void Run();
  // Runs the prepared statement that returns rows and gives the first
  // column of its first row as text ("" for no row or null).
  std::string ExecuteForText();

  const std::string& LastError() const { return m_lastError; }

 private:
  ISQLCommand* Command() const;

  TSQLConnection& m_connection;
  std::unique_ptr<TSQLStatement> m_statement;
  std::string m_lastError;
};
