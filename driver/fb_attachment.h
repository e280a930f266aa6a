// One attachment to a Firebird database, shared by the connection object and
// every statement, cursor and catalogue object made from it, and the
// transactions that run on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/fb_client.h"
#include "driver/sql_driver.h"

namespace Firebird {
class IAttachment;
class ITransaction;
}

namespace fbdriver {

class Statement;

// The connection options that shape the attachment and its transactions.
struct ConnectionSettings {
  std::string roleName;
  std::string charSet;  // empty: NONE
  int dialect = 3;
  bool waitOnLocks = true;
  int isolation = 0;  // 0 read committed, 1 snapshot, 2 dirty read (read committed)
  bool commitRetain = false;
  bool trimChar = false;
  int timeoutSeconds = 0;
  int blobSize = -1;
};

class Attachment {
 public:
  Attachment(const FbClient& client, ConnectionSettings settings);
  ~Attachment();
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

  // Attaches to the database; on failure *error holds the server's words.
  SQLResult Attach(const std::string& database, const std::string& user, const std::string& password,
                   Failure& error);
  // Ends every statement's open result (its transaction is committed),
  // frees the statements, then detaches. Safe to call more than once.
  void Detach();
  bool Attached() const { return m_handle != 0; }

  const FbClient& Client() const { return m_client; }
  isc_db_handle* Handle() { return &m_handle; }
  const ConnectionSettings& Settings() const { return m_settings; }
  // Options changed after connecting apply to later transactions and
  // cursors; the dialect, role and character set stay as attached.
  void Reconfigure(const ConnectionSettings& settings);
  unsigned short Dialect() const { return static_cast<unsigned short>(m_settings.dialect); }

  // Starts a transaction with the lock wait of the settings and their
  // isolation, or the one given (0 read committed, 1 snapshot).
  SQLResult StartTransaction(bool readOnly, isc_tr_handle* transaction, Failure& error, int isolation = -1);

  // The transaction that spans many statements, or null when none is active:
  // statements run inside it instead of a transaction of their own.
  isc_tr_handle* SharedTransaction() { return m_shared ? &m_shared : nullptr; }
  SQLResult StartShared(int isolation, Failure& error);
  // Commits or rolls back the shared transaction after closing the cursors
  // that run inside it. A failed commit rolls back; either way no shared
  // transaction is active afterwards.
  SQLResult EndShared(bool commit, Failure& error);

  void Register(Statement* statement);
  void Unregister(Statement* statement);

  // The attachment and an active transaction started here as interfaces of
  // the client library, for cursors; null when the client has none. Like
  // the rest of the attachment, used by one thread at a time.
  Firebird::IAttachment* Interface() const { return m_interface; }
  Firebird::ITransaction* TransactionInterface(isc_tr_handle transaction) const;
  // Commits or rolls back a transaction of this attachment through its
  // handle; the one way a transaction ends here.
  void EndTransaction(isc_tr_handle* transaction, bool commit, ISC_STATUS* status);

 private:
  SQLResult AttachThroughInterfaces(const std::string& database, const std::string& dpb, Failure& error);

  const FbClient& m_client;
  ConnectionSettings m_settings;
  isc_db_handle m_handle = 0;
  isc_tr_handle m_shared = 0;
  std::vector<Statement*> m_statements;
  // Not counted references: ending the transaction or detaching through the
  // handle releases them.
  Firebird::IAttachment* m_interface = nullptr;
  std::vector<std::pair<isc_tr_handle, Firebird::ITransaction*>> m_transactions;
};

// A transaction that is rolled back unless it was committed.
class Transaction {
 public:
  Transaction() = default;
  explicit Transaction(std::shared_ptr<Attachment> attachment) : m_attachment(std::move(attachment)) {}
  ~Transaction() { Rollback(); }
  Transaction(Transaction&& other) noexcept;
  Transaction& operator=(Transaction&& other) noexcept;
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  SQLResult Start(bool readOnly, Failure& error);
  SQLResult Commit(Failure& error);
  void Rollback();
  bool Active() const { return m_handle != 0; }
  isc_tr_handle* Handle() { return &m_handle; }

 private:
  std::shared_ptr<Attachment> m_attachment;
  isc_tr_handle m_handle = 0;
};

}  // namespace fbdriver
