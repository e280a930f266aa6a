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
  bool Attached() const { return m_attachment != nullptr; }
  // Ends the call that another thread runs on the attachment (nothing when
  // none runs); false when the client refuses.
  bool Cancel();

  const FbClient& Client() const { return m_client; }
  // The attachment itself; null once detached. Like the rest of the
  // attachment, used by one thread at a time (Cancel aside).
  Firebird::IAttachment* Interface() const { return m_attachment; }
  const ConnectionSettings& Settings() const { return m_settings; }
  // Options changed after connecting apply to later transactions and
  // cursors; the dialect, role and character set stay as attached.
  void Reconfigure(const ConnectionSettings& settings);
  unsigned Dialect() const { return static_cast<unsigned>(m_settings.dialect); }
  // True on a server of Firebird 4 or later: it sends the types this client
  // cannot describe (INT128, NUMERIC and DECIMAL of 19 to 38 digits,
  // DECFLOAT, times and time stamps with a zone) as VARCHARs of their exact
  // texts, and takes them back as texts.
  bool NewTypesAsText() const { return m_newTypesAsText; }
  // The database's on-disk structure (12 for Firebird 3, 13 for 4 and 5)
  // and the size of its pages in bytes; 0 when the server did not say.
  unsigned OdsVersion() const { return m_ods; }
  unsigned PageSize() const { return m_pageSize; }

  // Starts a transaction with the lock wait of the settings and their
  // isolation, or the one given (0 read committed, 1 snapshot).
  SQLResult StartTransaction(bool readOnly, Firebird::ITransaction** transaction, Failure& error,
                             int isolation = -1);
  // Commits or rolls back a transaction of this attachment, after closing
  // the cursors opened in it; the one way a transaction ends here. When it
  // ends (and always on a rollback, which cannot be retried) *transaction
  // becomes null; a failed commit leaves it active, with *error set.
  SQLResult EndTransaction(Firebird::ITransaction** transaction, bool commit, Failure* error);

  // The transaction that spans many statements, or null when none is active:
  // statements run inside it instead of a transaction of their own.
  Firebird::ITransaction* SharedTransaction() const { return m_shared; }
  SQLResult StartShared(int isolation, Failure& error);
  // Commits or rolls back the shared transaction after closing the cursors
  // that run inside it. A failed commit rolls back; either way no shared
  // transaction is active afterwards.
  SQLResult EndShared(bool commit, Failure& error);

  void Register(Statement* statement);
  void Unregister(Statement* statement);

 private:
  // Asks a server of Firebird 4 or later for the new types as texts.
  SQLResult BindNewTypesAsText(Failure& error);

  const FbClient& m_client;
  ConnectionSettings m_settings;
  Status m_status;
  Firebird::IAttachment* m_attachment = nullptr;
  Firebird::ITransaction* m_shared = nullptr;
  std::vector<Statement*> m_statements;
  bool m_newTypesAsText = false;
  unsigned m_ods = 0;
  unsigned m_pageSize = 0;
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
  bool Active() const { return m_transaction != nullptr; }
  Firebird::ITransaction* Get() const { return m_transaction; }

 private:
  std::shared_ptr<Attachment> m_attachment;
  Firebird::ITransaction* m_transaction = nullptr;
};

}  // namespace fbdriver
