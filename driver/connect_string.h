// What a connect string names, by the forms Firebird's own tools accept:
// "host:/path/x.fdb", "host/3050:/path/x.fdb", "host:alias" and
// "inet://host/path" reach a server; a plain path ("/data/x.fdb", "x.fdb",
// "./a:b.fdb") or a drive letter ("C:\data\x.fdb") is a file that the
// embedded engine opens in this process. The driver, the access layer and
// the programs all decide it here.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

inline bool NamesServer(std::string_view database) {
  if (database.find("://") != std::string_view::npos) return true;
  const std::size_t colon = database.find(':');
  // A one-letter part before the colon is a drive letter, and one that starts
  // like a path belongs to the file name.
  if (colon == std::string_view::npos || colon <= 1) return false;
  const char first = database[0];
  return first != '/' && first != '\\' && first != '.';
}

// The connect string of a database on a server ("host" or "host/port").
inline std::string ServerConnectString(std::string_view server, std::string_view database) {
  std::string text(server);
  text += ':';
  text += database;
  return text;
}

// The connect string of database on server ("host" or "host/port"; empty: a
// file opened in this process). "host:path" reaches a server even without
// one given; a file's relative path is made absolute, since the embedded
// engine would read it from its own folder, not ours. A bare name without a
// file of that name here ("employee") stays as it is: the engine looks it up
// among the aliases of its databases.conf.
inline std::string ConnectString(std::string_view server, std::string_view database) {
  if (!server.empty()) return ServerConnectString(server, database);
  if (NamesServer(database)) return std::string(database);
  const std::filesystem::path path(database);
  std::error_code ignored;
  if (database.find('/') == std::string_view::npos && !std::filesystem::exists(path, ignored)) {
    return std::string(database);
  }
  return std::filesystem::absolute(path).lexically_normal().string();
}
