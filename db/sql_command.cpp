#include "db/sql_command.h"

#include <algorithm>
#include <vector>

#include "base/exceptions.h"
#include "db/sql_connection.h"
#include "db/sql_statement.h"
#include "db/status_text.h"

TSQLCommand::TSQLCommand(TSQLConnection& connection) : m_connection(connection) {}

TSQLCommand::~TSQLCommand() = default;

ISQLCommand* TSQLCommand::Command() const {
  if (!m_statement) throw EDatabaseError("No SQL statement available");
  return m_statement->Command();
}

void TSQLCommand::Prepare(const std::string& sql) {
  m_statement.reset();
  auto statement = m_connection.NewStatement();
  ISQLCommand* command = statement->Command();
  CheckStatus(command->prepare(sql.c_str(), 0), command, m_lastError);
  m_statement = std::move(statement);
}

TSQLParamType TSQLCommand::ParamType(int index) {
  TSQLParamType type;
  ISQLCommand* command = Command();
  CheckStatus(
      command->getParameterType(static_cast<std::uint16_t>(index), &type.type, &type.subtype, &type.length),
      command, m_lastError);
  char charSet[32] = {};
  CheckStatus(command->getParameterCharSet(static_cast<std::uint16_t>(index), charSet, &type.bytesPerChar),
              command, m_lastError);
  charSet[sizeof charSet - 1] = '\0';
  type.charSet = charSet;
  return type;
}

void TSQLCommand::SetNull(int index) {
  ISQLCommand* command = Command();
  CheckStatus(command->setParameterNull(static_cast<std::uint16_t>(index)), command, m_lastError);
}

void TSQLCommand::SetText(int index, std::string_view text) {
  ISQLCommand* command = Command();
  CheckStatus(command->setParameterText(static_cast<std::uint16_t>(index), text.data(),
                                        static_cast<std::uint32_t>(text.size())),
              command, m_lastError);
}

void TSQLCommand::SetDouble(int index, double value) {
  ISQLCommand* command = Command();
  CheckStatus(command->setParameterDouble(static_cast<std::uint16_t>(index), value), command, m_lastError);
}

std::int64_t TSQLCommand::Execute() {
  Run();
  ISQLCommand* command = Command();
  std::uint64_t rows = 0;
  CheckStatus(command->getRowsAffected(&rows), command, m_lastError);
  return static_cast<std::int64_t>(rows);
}

void TSQLCommand::Run() {
  ISQLCommand* command = Command();
  ISQLCursor* cursor = nullptr;
  SQLResult status = command->execute(&cursor);
  TDriverPtr<ISQLCursor> owned(cursor);
  CheckStatus(status, command, m_lastError);
}

std::string TSQLCommand::ExecuteForText() {
  ISQLCommand* command = Command();
  ISQLCursor* cursor = nullptr;
  SQLResult status = command->execute(&cursor);
  TDriverPtr<ISQLCursor> owned(cursor);
  CheckStatus(status, command, m_lastError);
  if (!cursor) return {};
  status = cursor->next();
  if (status == kSQLEof || status == kSQLNoData) return {};
  CheckStatus(status, cursor, m_lastError);
  std::uint32_t length = 0;
  bool isNull = true;
  // The length comes first; a catalogue listing may run to any size.
  CheckStatus(cursor->getString(1, nullptr, 0, &length, &isNull), cursor, m_lastError);
  if (isNull) return {};
  std::string text(length, '\0');
  CheckStatus(cursor->getString(1, text.data(), length, &length, &isNull), cursor, m_lastError);
  text.resize(std::min<std::size_t>(length, text.size()));
  return text;
}
