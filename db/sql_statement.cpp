#include "db/sql_statement.h"

TSQLStatement::TSQLStatement(ISQLCommand* command) : m_command(command) {}

TSQLStatement::~TSQLStatement() { m_command->release(); }
