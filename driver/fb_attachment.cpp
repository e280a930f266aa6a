#include "driver/fb_attachment.h"

#include <firebird/Interface.h>
#include <locale.h>

#include <algorithm>

#include "driver/connect_string.h"
#include "driver/fb_statement.h"

namespace fbdriver {

namespace {

void AddDpbText(std::string& dpb, char item, const std::string& value) {
  // A parameter block item holds at most 255 bytes.
  std::size_t length = std::min<std::size_t>(value.size(), 255);
  dpb += item;
  dpb += static_cast<char>(length);
  dpb.append(value, 0, length);
}

void AddDpbInteger(std::string& dpb, char item, std::uint32_t value) {
  dpb += item;
  dpb += static_cast<char>(4);
  for (int i = 0; i < 4; ++i) dpb += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// While it lives, the calling thread classifies characters as the C locale
// does. The client library parses its configuration files with the C
// library's character functions: under a Turkish LC_CTYPE "i" upper-cases to
// a dotted capital I and every configuration line becomes illegal.
class TCTypeOfC {
 public:
  TCTypeOfC() {
    static const locale_t cLocale = [] {
      locale_t base = duplocale(LC_GLOBAL_LOCALE);
      locale_t changed = base ? newlocale(LC_CTYPE_MASK, "C", base) : nullptr;
      if (!changed && base) freelocale(base);
      return changed;
    }();
    if (cLocale) m_previous = uselocale(cLocale);
  }
  ~TCTypeOfC() {
    if (m_previous) uselocale(m_previous);
  }
  TCTypeOfC(const TCTypeOfC&) = delete;
  TCTypeOfC& operator=(const TCTypeOfC&) = delete;

 private:
  locale_t m_previous = nullptr;
};

// The handle of what the client's interfaces just made (a call that left
// status failed makes nothing). When no handle can be had, what was made is
// undone (undo(made, status): a detach or a rollback), or released if that
// fails too.
template <class Made, class Handle, class Undo>
SQLResult TakeHandle(const FbClient& client, Firebird::CheckStatusWrapper& status, Made* made,
                     ISC_STATUS (*take)(ISC_STATUS*, Handle*, void*), Handle* handle, Undo undo,
                     Failure& error) {
  *handle = 0;
  if (status.getState() & Firebird::IStatus::STATE_ERRORS) {
    error = StatusFailure(client, status.getErrors());
    return kSQLServerError;
  }
  ISC_STATUS_ARRAY handleStatus{};
  take(handleStatus, handle, made);
  if (!Failed(handleStatus)) return kSQLSuccess;
  error = StatusFailure(client, handleStatus);
  *handle = 0;
  undo(made, status);
  if (status.getState() & Firebird::IStatus::STATE_ERRORS) made->release();
  return kSQLServerError;
}

}  // namespace

Attachment::Attachment(const FbClient& client, ConnectionSettings settings)
    : m_client(client), m_settings(std::move(settings)) {}

Attachment::~Attachment() { Detach(); }

SQLResult Attachment::Attach(const std::string& database, const std::string& user,
                             const std::string& password, Failure& error) {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  if (!user.empty()) AddDpbText(dpb, isc_dpb_user_name, user);
  if (!password.empty()) AddDpbText(dpb, isc_dpb_password, password);
  if (!m_settings.roleName.empty()) AddDpbText(dpb, isc_dpb_sql_role_name, m_settings.roleName);
  if (!m_settings.charSet.empty()) AddDpbText(dpb, isc_dpb_lc_ctype, m_settings.charSet);
  AddDpbInteger(dpb, isc_dpb_sql_dialect, static_cast<std::uint32_t>(m_settings.dialect));
  if (m_settings.timeoutSeconds > 0) {
    AddDpbInteger(dpb, isc_dpb_connect_timeout, static_cast<std::uint32_t>(m_settings.timeoutSeconds));
  }
  // A plain path is opened by the embedded engine only: without this the
  // client would quietly fall back to a server on this machine.
  if (!NamesServer(database)) AddDpbText(dpb, isc_dpb_config, "Providers = Engine12");

  if (m_client.HasInterfaces()) return AttachThroughInterfaces(database, dpb, error);
  ISC_STATUS_ARRAY status{};
  {
    TCTypeOfC cType;
    m_client.attachDatabase(status, 0, database.c_str(), &m_handle, static_cast<short>(dpb.size()),
                            dpb.data());
  }
  if (Failed(status)) {
    error = StatusFailure(m_client, status);
    m_handle = 0;
    return kSQLServerError;
  }
  return kSQLSuccess;
}

SQLResult Attachment::AttachThroughInterfaces(const std::string& database, const std::string& dpb,
                                              Failure& error) {
  Firebird::IMaster* master = m_client.masterInterface();
  Firebird::CheckStatusWrapper status(master->getStatus());
  Firebird::IProvider* provider = master->getDispatcher();
  Firebird::IAttachment* attachment = nullptr;
  {
    TCTypeOfC cType;
    attachment = provider->attachDatabase(&status, database.c_str(), static_cast<unsigned>(dpb.size()),
                                          reinterpret_cast<const unsigned char*>(dpb.data()));
  }
  provider->release();
  const SQLResult result = TakeHandle(
      m_client, status, attachment, m_client.databaseHandle, &m_handle,
      [](Firebird::IAttachment* made, Firebird::CheckStatusWrapper& undo) { made->detach(&undo); }, error);
  if (result == kSQLSuccess) m_interface = attachment;
  status.dispose();
  return result;
}

Firebird::ITransaction* Attachment::TransactionInterface(isc_tr_handle transaction) const {
  for (const auto& [handle, found] : m_transactions) {
    if (handle == transaction) return found;
  }
  return nullptr;
}

void Attachment::EndTransaction(isc_tr_handle* transaction, bool commit, ISC_STATUS* status) {
  // The cursors opened in it through the interfaces are closed first: the
  // client frees them with the transaction. Its interface goes with it.
  for (Statement* statement : m_statements) statement->TransactionEnds(*transaction);
  std::erase_if(m_transactions, [&](const auto& entry) { return entry.first == *transaction; });
  if (commit) {
    m_client.commitTransaction(status, transaction);
  } else {
    m_client.rollbackTransaction(status, transaction);
  }
}

void Attachment::Detach() {
  // Work of a transaction nobody committed is undone.
  Failure ignored;
  if (m_shared) EndShared(false, ignored);
  // Dropping a statement unregisters it, so work on a copy.
  std::vector<Statement*> statements;
  statements.swap(m_statements);
  for (Statement* statement : statements) statement->Drop();
  m_transactions.clear();
  m_interface = nullptr;
  if (m_handle) {
    ISC_STATUS_ARRAY status{};
    m_client.detachDatabase(status, &m_handle);
    m_handle = 0;
  }
}

SQLResult Attachment::StartTransaction(bool readOnly, isc_tr_handle* transaction, Failure& error,
                                       int isolation) {
  if (!m_handle) {
    error = {"The connection is closed"};
    return 3;
  }
  char tpb[8];
  unsigned short length = 0;
  tpb[length++] = isc_tpb_version3;
  tpb[length++] = readOnly ? isc_tpb_read : isc_tpb_write;
  if ((isolation < 0 ? m_settings.isolation : isolation) == 1) {
    tpb[length++] = isc_tpb_concurrency;
  } else {
    tpb[length++] = isc_tpb_read_committed;
    tpb[length++] = isc_tpb_rec_version;
  }
  tpb[length++] = m_settings.waitOnLocks ? isc_tpb_wait : isc_tpb_nowait;

  if (m_interface) {
    Firebird::CheckStatusWrapper status(m_client.masterInterface()->getStatus());
    Firebird::ITransaction* started =
        m_interface->startTransaction(&status, length, reinterpret_cast<const unsigned char*>(tpb));
    const SQLResult result = TakeHandle(
        m_client, status, started, m_client.transactionHandle, transaction,
        [](Firebird::ITransaction* made, Firebird::CheckStatusWrapper& undo) { made->rollback(&undo); },
        error);
    if (result == kSQLSuccess) m_transactions.emplace_back(*transaction, started);
    status.dispose();
    return result;
  }
  // The transaction existence block isc_start_multiple reads.
  struct {
    isc_db_handle* database;
    int tpbLength;
    char* tpb;
  } teb{&m_handle, length, tpb};
  ISC_STATUS_ARRAY status{};
  *transaction = 0;
  m_client.startMultiple(status, transaction, 1, &teb);
  if (Failed(status)) {
    error = StatusFailure(m_client, status);
    *transaction = 0;
    return kSQLServerError;
  }
  return kSQLSuccess;
}

SQLResult Attachment::StartShared(int isolation, Failure& error) {
  if (m_shared) {
    error = {"A transaction is already active"};
    return kSQLTransactionActive;
  }
  const bool readOnly = isolation == eTxnSnapshotReadOnly;
  return StartTransaction(readOnly, &m_shared, error, readOnly ? eTxnSnapshot : isolation);
}

SQLResult Attachment::EndShared(bool commit, Failure& error) {
  if (!m_shared) {
    error = {"No transaction is active"};
    return kSQLNoTransaction;
  }
  for (Statement* statement : m_statements) statement->CloseSharedResult();
  ISC_STATUS_ARRAY status{};
  if (commit) {
    EndTransaction(&m_shared, true, status);
    if (!Failed(status)) {
      m_shared = 0;
      return kSQLSuccess;
    }
    error = StatusFailure(m_client, status);
  }
  ISC_STATUS_ARRAY ignored{};
  if (m_shared) EndTransaction(&m_shared, false, commit ? ignored : status);
  // A transaction whose attachment is gone cannot be ended; forget it.
  m_shared = 0;
  return commit ? kSQLServerError : kSQLSuccess;
}

void Attachment::Reconfigure(const ConnectionSettings& settings) {
  ConnectionSettings updated = settings;
  updated.dialect = m_settings.dialect;
  updated.roleName = m_settings.roleName;
  updated.charSet = m_settings.charSet;
  m_settings = std::move(updated);
}

void Attachment::Register(Statement* statement) { m_statements.push_back(statement); }

void Attachment::Unregister(Statement* statement) { std::erase(m_statements, statement); }

Transaction::Transaction(Transaction&& other) noexcept
    : m_attachment(std::move(other.m_attachment)), m_handle(other.m_handle) {
  other.m_handle = 0;
}

Transaction& Transaction::operator=(Transaction&& other) noexcept {
  if (this != &other) {
    Rollback();
    m_attachment = std::move(other.m_attachment);
    m_handle = other.m_handle;
    other.m_handle = 0;
  }
  return *this;
}

SQLResult Transaction::Start(bool readOnly, Failure& error) {
  Rollback();
  return m_attachment->StartTransaction(readOnly, &m_handle, error);
}

SQLResult Transaction::Commit(Failure& error) {
  // A statement such as COMMIT may have ended the transaction already.
  if (!m_handle) return kSQLSuccess;
  ISC_STATUS_ARRAY status{};
  m_attachment->EndTransaction(&m_handle, true, status);
  if (Failed(status)) {
    error = StatusFailure(m_attachment->Client(), status);
    Rollback();
    return kSQLServerError;
  }
  m_handle = 0;
  return kSQLSuccess;
}

void Transaction::Rollback() {
  if (!m_handle) return;
  ISC_STATUS_ARRAY status{};
  m_attachment->EndTransaction(&m_handle, false, status);
  // A transaction whose attachment is gone cannot be rolled back; forget it.
  m_handle = 0;
}

}  // namespace fbdriver
