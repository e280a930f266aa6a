#include "db/sql_connection.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>

#include "base/exceptions.h"
#include "db/catalogue.h"
#include "db/driver_loader.h"
#include "db/fields.h"
#include "db/layer_text.h"
#include "db/sql_dataset.h"
#include "db/sql_statement.h"
#include "db/status_text.h"
#include "driver/fb_quote.h"

namespace {

// How a name stands in a comma text: quoted when it holds a blank or control
// character, a comma or a double quote.
std::string CommaTextItem(const std::string& name) {
  bool quote = std::any_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 32 || c == ',' || c == '"';
  });
  if (!quote) return name;
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// A load failure's text, with the reason after it when there is one.
std::string UnableToLoad(const std::string& library, const std::string& reason) {
  return "Unable to Load " + library + (reason.empty() ? "" : ": " + reason);
}

}  // namespace

TSQLConnection::TSQLConnection(std::string name) : m_name(std::move(name)) {
  m_params.SetLines(DefaultConnectionParams());
}

TSQLConnection::~TSQLConnection() {
  // Datasets may outlive the connection: they end up closed and unbound.
  for (TSQLDataSet* dataSet : m_dataSets) {
    dataSet->Close();
    dataSet->DropStatement();
    dataSet->m_connection = nullptr;
  }
  m_dataSets.clear();
  if (m_driver) Disconnect();
}

bool TSQLConnection::Connected() const { return m_connection != nullptr && m_state == csStateOpen; }

std::int32_t TSQLConnection::IntegerOption(TConnectionOption option) const {
  std::int32_t value = 0;
  std::int32_t length = 0;
  if (!Connected() || m_connection->getOption(option, &value, sizeof value, &length) != kSQLSuccess) return 0;
  return value;
}

void TSQLConnection::SetConnected(bool value) {
  if (value == Connected()) return;
  if (value) {
    Connect();
  } else if (m_driver) {
    Disconnect();
  }
}

void TSQLConnection::EnsureConnected() {
  if (!Connected()) Connect();
}

void TSQLConnection::Connect() {
  if (m_driverName.empty()) throw EDatabaseError("Missing DriverName property");
  if (m_libraryName.empty() || m_vendorLib.empty()) {
    throw EDatabaseError(WithObjectName(m_name, "DLL/Shared Library Name not Set"));
  }
  if (m_params.Value("Database").empty()) {
    throw EDatabaseError(m_connectionName.empty() ? "Connection name missing" : "Missing Database property");
  }

  m_state = csStateConnecting;
  try {
    if (!m_library) {
      // The library stays loaded for the rest of the process: never dlclose'd.
      std::string reason;
      m_library = LoadDriverLibrary(TrimBlanks(m_libraryName), &reason);
      if (!m_library) throw EDatabaseError(UnableToLoad(m_libraryName, reason));
    }
    auto entry = reinterpret_cast<TGetDriverFunc>(dlsym(m_library, TrimBlanks(m_getDriverFunc).c_str()));
    if (!entry) throw EDatabaseError("Unable to Find Procedure " + m_getDriverFunc);

    const std::string errorResourceFile = TrimBlanks(m_params.Value("ErrorResourceFile"));
    const SQLResult loaded = entry(m_vendorLib.c_str(), errorResourceFile.c_str(), &m_driver);
    if (loaded != kSQLSuccess || !m_driver) {
      // From 255 on, what the entry handed out only says why; it is released below.
      std::string reason;
      std::string unused;
      if (loaded >= kSQLServerError && m_driver) reason = DescribeStatus(loaded, m_driver, unused);
      throw EDatabaseError(UnableToLoad(m_vendorLib, reason));
    }
    CheckStatus(m_driver->getSQLConnection(&m_connection), m_driver, m_lastError);

    const std::string password = m_params.Value("Password");
    const std::string user = m_params.Value("User_Name");
    const std::string database = TrimBlanks(m_params.Value("Database"));
    SetConnectionOptions();
    CheckStatus(m_connection->connect(database.c_str(), user.c_str(), password.c_str()), m_connection,
                m_lastError);

    CheckStatus(m_connection->getSQLMetaData(&m_metaData), m_connection, m_lastError);
    m_state = csStateOpen;
    SetCancelTarget(m_connection);
  } catch (...) {
    ReleaseDriverObjects();
    m_library = nullptr;
    m_state = csStateClosed;
    throw;
  }
}

void TSQLConnection::SetConnectionOptions() {
  auto text = [this](const char* key, TConnectionOption option) {
    const std::string value = m_params.Value(key);
    if (!value.empty()) m_connection->setOptionText(option, TrimBlanks(value).c_str());
  };
  auto yesNo = [this](const char* key, TConnectionOption option) {
    const std::string value = m_params.Value(key);
    if (!value.empty()) m_connection->setOption(option, SameText(TrimBlanks(value), "TRUE") ? 1 : 0);
  };
  auto integer = [this](const char* key, TConnectionOption option) {
    const std::string value = m_params.Value(key);
    if (!value.empty()) m_connection->setOption(option, StrToInt(value));
  };

  text("HostName", eConnHostName);
  text("RoleName", eConnRoleName);
  yesNo("WaitOnLocks", eConnWaitOnLocks);
  yesNo("CommitRetain", eConnCommitRetain);
  yesNo("AutoCommit", eConnAutoCommit);
  yesNo("BlockingMode", eConnBlockingMode);
  text("ServerCharSet", eConnServerCharSet);
  std::string isolation = m_params.Value(m_driverName + " TransIsolation");
  if (!isolation.empty()) {
    std::transform(isolation.begin(), isolation.end(), isolation.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    m_connection->setOption(eConnTxnIsoLevel, isolation == "repeatableread" ? 1
                                              : isolation == "dirtyread"    ? 2
                                                                            : 0);
  }
  integer("SqlDialect", eConnSqlDialect);
  yesNo("OS Authentication", eConnOSAuthentication);
  text("Server Port", eConnServerPort);
  yesNo("Multiple Transaction", eConnMultipleTransaction);
  yesNo("Trim Char", eConnTrimChar);
  text("Custom String", eConnCustomString);
  integer("Connection Timeout", eConnTimeout);
}

void TSQLConnection::SetCancelTarget(ISQLConnection* connection) {
  std::lock_guard lock(m_cancelMutex);
  m_cancelTarget = connection;
}

bool TSQLConnection::CancelOperation() {
  std::lock_guard lock(m_cancelMutex);
  return !m_cancelTarget || m_cancelTarget->cancel() == kSQLSuccess;
}

void TSQLConnection::ReleaseDriverObjects() {
  SetCancelTarget(nullptr);
  if (m_metaData) m_metaData->release();
  m_metaData = nullptr;
  if (m_connection) m_connection->release();
  m_connection = nullptr;
  if (m_driver) m_driver->release();
  m_driver = nullptr;
}

void TSQLConnection::Disconnect() {
  SetCancelTarget(nullptr);
  m_state = csStateDisconnecting;
  for (TSQLDataSet* dataSet : m_dataSets) {
    dataSet->Close();
    dataSet->DropStatement();
  }
  if (m_metaData) m_metaData->release();
  m_metaData = nullptr;
  if (m_connection) {
    m_connection->disconnect();
    m_connection->release();
    m_connection = nullptr;
  }
  m_library = nullptr;
  m_state = csStateClosed;
  if (m_driver) m_driver->release();
  m_driver = nullptr;
}

std::unique_ptr<TSQLStatement> TSQLConnection::NewStatement() {
  EnsureConnected();
  ISQLCommand* command = nullptr;
  CheckStatus(m_connection->getSQLCommand(&command), m_connection, m_lastError);
  return std::make_unique<TSQLStatement>(command);
}

void TSQLConnection::StartTransaction(TTransactionIsolation isolation) {
  EnsureConnected();
  CheckStatus(m_connection->startTransaction(isolation), m_connection, m_lastError);
}

void TSQLConnection::Commit() {
  if (!m_connection) throw EDatabaseError(DescribeStatus(kSQLNoTransaction, nullptr, m_lastError));
  CheckStatus(m_connection->commit(), m_connection, m_lastError);
}

void TSQLConnection::Rollback() {
  if (!m_connection) throw EDatabaseError(DescribeStatus(kSQLNoTransaction, nullptr, m_lastError));
  CheckStatus(m_connection->rollback(), m_connection, m_lastError);
}

bool TSQLConnection::InTransaction() const {
  bool active = false;
  return m_connection && m_connection->inTransaction(&active) == kSQLSuccess && active;
}

std::string TSQLConnection::QuoteObjectName(const std::string& name) {
  return fbdriver::QuoteObjectName(name);
}

void TSQLConnection::ListTableNames(std::vector<std::string>& list) {
  EnsureConnected();
  std::vector<std::string> names;
  try {
    for (TListedTable& table : ListTables(*this)) names.push_back(std::move(table.name));
  } catch (const std::exception&) {
    return;  // a listing that cannot be had leaves the list as it was
  }
  list = std::move(names);
}

void TSQLConnection::ListFieldNames(const std::string& tableName, std::vector<std::string>& list) {
  EnsureConnected();
  std::unique_ptr<TSQLDataSet> listing;
  TField* nameField = nullptr;
  try {
    listing = std::make_unique<TSQLDataSet>(std::string(), this);
    ISQLCursor* cursor = nullptr;
    CheckStatus(m_metaData->getColumns(tableName.c_str(), nullptr, 0, &cursor), m_metaData, m_lastError);
    if (!cursor) return;
    listing->OpenCursor(cursor);
    nameField = &listing->FieldNamed("COLUMN_NAME");
  } catch (const std::exception&) {
    return;  // a listing that cannot be had leaves the list as it was
  }

  // A name already in the list is recognised through the list's comma text,
  // so a name that needs quoting there is never taken for a repeat.
  std::vector<std::string> names;
  std::string commaText = ",,";
  while (!listing->AtEnd()) {
    std::string name = nameField->ValueText();
    if (commaText.find("," + name + ",") == std::string::npos) {
      if (names.empty()) commaText.resize(1);  // ",," becomes ","
      commaText += CommaTextItem(name) + ",";
      names.push_back(std::move(name));
    }
    listing->MoveNext();
  }
  list = std::move(names);
}
