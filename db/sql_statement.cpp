#include "db/sql_statement.h"

TSQLStatement::TSQLStatement(ISQLCommand* command, TSQLConnection* counted)
    : m_command(command), m_counted(counted) {
  ++m_counted->m_activeStatements;
}

TSQLStatement::~TSQLStatement() {
  m_command->release();
  if (m_counted->m_activeStatements > 0) --m_counted->m_activeStatements;
  // m_ownConnection, if any, disconnects as it goes.
}
