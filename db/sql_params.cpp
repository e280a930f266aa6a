#include "db/layer_text.h"
#include "db/sql_connection.h"

namespace {

// The part of a line before its first "=".
std::string_view LineName(const std::string& line) {
  return std::string_view(line).substr(0, line.find('='));
}

}  // namespace

std::string TSQLParams::Value(const std::string& name) const {
  for (const auto& line : m_lines) {
    if (SameText(LineName(line), name)) {
      std::size_t equals = line.find('=');
      return equals == std::string::npos ? std::string() : line.substr(equals + 1);
    }
  }
  return {};
}

void TSQLParams::SetValue(const std::string& name, const std::string& value) {
  for (auto line = m_lines.begin(); line != m_lines.end(); ++line) {
    if (SameText(LineName(*line), name)) {
      if (value.empty()) {
        m_lines.erase(line);
      } else {
        *line = name + "=" + value;
      }
      return;
    }
  }
  if (!value.empty()) m_lines.push_back(name + "=" + value);
}

std::vector<std::string> DefaultConnectionParams() {
  return {
      "DriverName=Interbase",
      "Database=database.gdb",
      "RoleName=RoleName",
      "User_Name=sysdba",
      "Password=quillbank",
      "ServerCharSet=",
      "SQLDialect=3",
      "ErrorResourceFile=",
      "LocaleCode=0000",
      "BlobSize=-1",
      "CommitRetain=False",
      "WaitOnLocks=True",
      "Interbase TransIsolation=ReadCommited",
      "Trim Char=False",
  };
}
