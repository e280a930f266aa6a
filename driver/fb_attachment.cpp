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

}  // namespace

Attachment::Attachment(const FbClient& client, ConnectionSettings settings)
    : m_client(client), m_settings(std::move(settings)), m_status(client) {}

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

  Firebird::IProvider* provider = m_client.master->getDispatcher();
  Firebird::IAttachment* attachment = nullptr;
  {
    TCTypeOfC cType;
    attachment =
        provider->attachDatabase(m_status.Next(), database.c_str(), static_cast<unsigned>(dpb.size()),
                                 reinterpret_cast<const unsigned char*>(dpb.data()));
  }
  provider->release();
  if (m_status.Failed()) {
    error = StatusFailure(m_client, m_status);
    return kSQLServerError;
  }
  m_attachment = attachment;
  if (SQLResult bound = BindNewTypesAsText(error); bound != kSQLSuccess) {
    Detach();
    return bound;
  }
  return kSQLSuccess;
}

SQLResult Attachment::BindNewTypesAsText(Failure& error) {
  // Firebird 4 made the on-disk structure 13; a server of 3 refuses the
  // statements below, so only a database of 13 or later is asked. The page
  // size comes with it, for the reader of a table (see PageSize).
  const unsigned char items[] = {isc_info_ods_version, isc_info_page_size};
  unsigned char info[32] = {};
  m_attachment->getInfo(m_status.Next(), sizeof items, items, sizeof info, info);
  if (m_status.Failed()) {
    error = StatusFailure(m_client, m_status);
    return kSQLServerError;
  }
  // Each item: its code, a length of two bytes and a little-endian number.
  for (unsigned at = 0; at + 3 <= sizeof info && info[at] != isc_info_end;) {
    const unsigned length = info[at + 1] | (info[at + 2] << 8);
    if (at + 3 + length > sizeof info) break;
    unsigned value = 0;
    for (unsigned i = 0; i < length && i < 4; ++i) value |= unsigned{info[at + 3 + i]} << (8 * i);
    if (info[at] == isc_info_ods_version) m_ods = value;
    if (info[at] == isc_info_page_size) m_pageSize = value;
    at += 3 + length;
  }
  if (m_ods < 13) return kSQLSuccess;

  // The texts are exact: every digit of an INT128, a NUMERIC(38,4) or a
  // DECFLOAT(34), and a zone as it was given ("Europe/Berlin", "+05:30").
  // Their lengths in bytes tell the three kinds apart (see the statement's
  // description of its columns); bytes, since they are ASCII in every
  // character set the connection may use.
  for (const char* sql : {"SET BIND OF INT128 TO VARCHAR(47) CHARACTER SET OCTETS",
                          "SET BIND OF DECFLOAT TO VARCHAR(42) CHARACTER SET OCTETS",
                          "SET BIND OF TIME ZONE TO VARCHAR(58) CHARACTER SET OCTETS"}) {
    m_attachment->execute(m_status.Next(), nullptr, 0, sql, Dialect(), nullptr, nullptr, nullptr, nullptr);
    if (m_status.Failed()) {
      error = StatusFailure(m_client, m_status);
      return kSQLServerError;
    }
  }
  m_newTypesAsText = true;
  return kSQLSuccess;
}

bool Attachment::Cancel() {
  // The client's one call meant for another thread; it gets a status of its
  // own, since the attachment's belongs to the thread being cancelled.
  Status status(m_client);
  m_attachment->cancelOperation(status.Next(), fb_cancel_raise);
  return !status.Failed() || status.Errors()[1] == isc_nothing_to_cancel;
}

SQLResult Attachment::EndTransaction(Firebird::ITransaction** transaction, bool commit, Failure* error) {
  // The cursors opened in it are closed first: the client frees them with it.
  for (Statement* statement : m_statements) statement->TransactionEnds(*transaction);
  if (commit) {
    (*transaction)->commit(m_status.Next());
  } else {
    (*transaction)->rollback(m_status.Next());
  }
  if (!m_status.Failed()) {
    // Ending it released the interface.
    *transaction = nullptr;
    return kSQLSuccess;
  }
  if (error) *error = StatusFailure(m_client, m_status);
  if (commit) return kSQLServerError;
  // A transaction whose attachment is gone cannot be rolled back; forget it.
  (*transaction)->release();
  *transaction = nullptr;
  return kSQLServerError;
}

void Attachment::Detach() {
  // Work of a transaction nobody committed is undone.
  Failure ignored;
  if (m_shared) EndShared(false, ignored);
  // Dropping a statement unregisters it, so work on a copy.
  std::vector<Statement*> statements;
  statements.swap(m_statements);
  for (Statement* statement : statements) statement->Drop();
  if (m_attachment) {
    m_attachment->detach(m_status.Next());
    if (m_status.Failed()) m_attachment->release();
    m_attachment = nullptr;
  }
}

SQLResult Attachment::StartTransaction(bool readOnly, Firebird::ITransaction** transaction, Failure& error,
                                       int isolation) {
  *transaction = nullptr;
  if (!m_attachment) {
    error = {"The connection is closed"};
    return 3;
  }
  unsigned char tpb[8];
  unsigned length = 0;
  tpb[length++] = isc_tpb_version3;
  tpb[length++] = readOnly ? isc_tpb_read : isc_tpb_write;
  if ((isolation < 0 ? m_settings.isolation : isolation) == 1) {
    tpb[length++] = isc_tpb_concurrency;
  } else {
    tpb[length++] = isc_tpb_read_committed;
    tpb[length++] = isc_tpb_rec_version;
  }
  tpb[length++] = m_settings.waitOnLocks ? isc_tpb_wait : isc_tpb_nowait;

  Firebird::ITransaction* started = m_attachment->startTransaction(m_status.Next(), length, tpb);
  if (m_status.Failed()) {
    error = StatusFailure(m_client, m_status);
    return kSQLServerError;
  }
  *transaction = started;
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
  if (commit && EndTransaction(&m_shared, true, &error) == kSQLSuccess) return kSQLSuccess;
  if (m_shared) EndTransaction(&m_shared, false, commit ? nullptr : &error);
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
    : m_attachment(std::move(other.m_attachment)), m_transaction(other.m_transaction) {
  other.m_transaction = nullptr;
}

Transaction& Transaction::operator=(Transaction&& other) noexcept {
  if (this != &other) {
    Rollback();
    m_attachment = std::move(other.m_attachment);
    m_transaction = other.m_transaction;
    other.m_transaction = nullptr;
  }
  return *this;
}

SQLResult Transaction::Start(bool readOnly, Failure& error) {
  Rollback();
  return m_attachment->StartTransaction(readOnly, &m_transaction, error);
}

SQLResult Transaction::Commit(Failure& error) {
  if (!m_transaction) return kSQLSuccess;
  if (m_attachment->EndTransaction(&m_transaction, true, &error) == kSQLSuccess) return kSQLSuccess;
  Rollback();
  return kSQLServerError;
}

void Transaction::Rollback() {
  if (m_transaction) m_attachment->EndTransaction(&m_transaction, false, nullptr);
}

}  // namespace fbdriver
