// The connection object: loads the driver library, connects with the values
// of its parameter list, lists tables and columns, and quotes names.
// Failures are thrown as EDatabaseError (EConvertError for a parameter that
// must be an integer and is not); the object's own failures carry its name
// and ": " in front.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/sql_driver.h"

class TSQLDataSet;
class TSQLStatement;

// Ordered name=value lines. A lookup ignores letter case and takes the first
// match; setting a value replaces that line or appends one; an empty value
// deletes it.
class TSQLParams {
 public:
  // The value of the first line of that name ("" when there is none).
  std::string Value(const std::string& name) const;
  void SetValue(const std::string& name, const std::string& value);
  const std::vector<std::string>& Lines() const { return m_lines; }
  void SetLines(std::vector<std::string> lines) { m_lines = std::move(lines); }

 private:
  std::vector<std::string> m_lines;
};

// The parameter list a connection starts with.
std::vector<std::string> DefaultConnectionParams();

enum TConnectionState { csStateClosed, csStateConnecting, csStateOpen, csStateDisconnecting };

class TSQLConnection {
 public:
  // A connection with the program's fixed settings and starting parameter list.
  explicit TSQLConnection(std::string name = {});
  ~TSQLConnection();
  TSQLConnection(const TSQLConnection&) = delete;
  TSQLConnection& operator=(const TSQLConnection&) = delete;

  const std::string& Name() const { return m_name; }

  const std::string& ConnectionName() const { return m_connectionName; }
  void SetConnectionName(std::string value) { m_connectionName = std::move(value); }
  const std::string& DriverName() const { return m_driverName; }
  void SetDriverName(std::string value) { m_driverName = std::move(value); }
  const std::string& LibraryName() const { return m_libraryName; }
  void SetLibraryName(std::string value) { m_libraryName = std::move(value); }
  const std::string& GetDriverFunc() const { return m_getDriverFunc; }
  void SetGetDriverFunc(std::string value) { m_getDriverFunc = std::move(value); }
  const std::string& VendorLib() const { return m_vendorLib; }
  void SetVendorLib(std::string value) { m_vendorLib = std::move(value); }

  TSQLParams& Params() { return m_params; }
  const TSQLParams& Params() const { return m_params; }
  // The character set texts and names travel in: the ServerCharSet
  // parameter ("" for none, which is NONE).
  std::string CharSet() const { return m_params.Value("ServerCharSet"); }

  // True only while a driver connection is held and the state is open.
  bool Connected() const;
  // Connects or disconnects; setting the value it already has does nothing.
  // A failed connect throws, leaves the state closed and Params as they were.
  // Disconnecting closes every dataset of the connection and drops their
  // prepared statements.
  void SetConnected(bool value);
  TConnectionState ConnectionState() const { return m_state; }
  // The database's page size in bytes and its on-disk structure's major
  // version (12 for Firebird 3, 13 for 4 and 5), as the server told them
  // at the connect; 0 when not connected.
  std::int32_t PageSize() const { return IntegerOption(eConnPageSize); }
  std::int32_t OdsVersion() const { return IntegerOption(eConnOdsVersion); }

  // Fills list with the names of the tables and views, as ListTables gives
  // them, connecting first when needed. A listing that cannot be had is
  // swallowed and leaves list as it was; a failure of the connect is thrown.
  void ListTableNames(std::vector<std::string>& list);
  // Fills list with the table's column names (each once, in column order),
  // connecting first when needed. A listing that cannot be had is swallowed
  // and leaves list as it was; a failure of the connect, or of a row after
  // the listing opened, is thrown, list again untouched.
  void ListFieldNames(const std::string& tableName, std::vector<std::string>& list);
  // The name as the server must see it to mean exactly that object: as it
  // stands when it is a regular name and no reserved word, else in double
  // quotes. A rule of its own; nothing is asked of the server.
  static std::string QuoteObjectName(const std::string& name);

  // Ends the statement or fetch that another thread is running on this
  // connection (for instance one waiting on the server): that call then fails
  // with the server's words for a cancelled operation. Safe to call from any
  // thread while one other thread uses the connection; does nothing when no
  // call is running or the connection is not open. Never throws: false when
  // the driver could not cancel.
  bool CancelOperation();

  // A transaction spanning many statements: from StartTransaction to Commit
  // or Rollback every statement and cursor of the connection's datasets runs
  // inside it (a statement that fails is undone alone; the transaction stays).
  // A cursor opened inside it is closed when it ends. Without one, each
  // statement commits on its own and a query's transaction lasts as long as
  // its cursor. StartTransaction connects first when needed and throws when
  // one is already active; Commit and Rollback throw when none is (a failed
  // Commit has rolled back). Disconnecting rolls back an active transaction.
  void StartTransaction(TTransactionIsolation isolation = eTxnReadCommitted);
  void Commit();
  void Rollback();
  bool InTransaction() const;

  // Text of the last failure the connection recorded.
  const std::string& LastError() const { return m_lastError; }

 private:
  friend class TSQLDataSet;
  friend class TSQLStatement;
  friend class TSQLCommand;

  void Connect();
  std::int32_t IntegerOption(TConnectionOption option) const;
  void Disconnect();
  // Gives back everything a connect made, without telling the driver to disconnect.
  void ReleaseDriverObjects();
  void SetConnectionOptions();
  // Connects when not connected.
  void EnsureConnected();
  // A statement object for a dataset of this connection.
  std::unique_ptr<TSQLStatement> NewStatement();

  std::string m_name;
  std::string m_connectionName = "IBConnection";
  std::string m_driverName = "Interbase";
  std::string m_libraryName = "libfbdriver.so";
  std::string m_getDriverFunc = "getSQLDriverFIREBIRD";
  std::string m_vendorLib = "libfbclient.so.2";
  TSQLParams m_params;
  TConnectionState m_state = csStateClosed;
  std::string m_lastError;

  void* m_library = nullptr;  // the driver library's handle while it counts as loaded
  ISQLDriver* m_driver = nullptr;
  ISQLConnection* m_connection = nullptr;
  ISQLMetaData* m_metaData = nullptr;
  // The driver connection while it is open, for CancelOperation from another
  // thread; set and cleared under the mutex.
  std::mutex m_cancelMutex;
  ISQLConnection* m_cancelTarget = nullptr;
  void SetCancelTarget(ISQLConnection* connection);
  // Every dataset bound to this connection, the layer's own ones included.
  std::vector<TSQLDataSet*> m_dataSets;
};
