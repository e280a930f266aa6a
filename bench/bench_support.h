// What the benchmarks share: the benchmark table and its fill script, timing,
// and the Firebird client library called directly for the reference figures.
#pragma once

#include <dlfcn.h>
#include <firebird/Interface.h>
#include <ibase.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

inline long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Processor time used so far, user and system, by this process and, when
// FB_TEST_SERVER_PID names the loopback test server, by that server too:
// what a transfer through the server costs the machine besides its time.
struct CpuSeconds {
  double self = 0;
  double server = -1;  // unknown
};

inline CpuSeconds CpuUsed() {
  CpuSeconds used;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  used.self = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  if (const char* pid = std::getenv("FB_TEST_SERVER_PID")) {
    std::ifstream stat(std::string("/proc/") + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name in parentheses: utime and stime are the 12th and 13th.
    const std::size_t close = text.rfind(')');
    std::istringstream fields(close == std::string::npos ? std::string() : text.substr(close + 1));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
      if (i >= 12) ticks += std::atof(field.c_str());
    }
    if (fields) used.server = ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return used;
}

// The columns of the benchmark table: integers, strings, a numeric, a
// double, a date and a time stamp.
inline const char* const kColumns =
    "(ID INTEGER NOT NULL, BIG BIGINT, NAME VARCHAR(40), CODE CHAR(8),\n"
    "  AMOUNT NUMERIC(12,2), RATIO DOUBLE PRECISION, DAY_ DATE, STAMP TIMESTAMP)";

// Creates table with the benchmark columns and fills it with rows rows.
inline std::string FillScript(const std::string& table, long rows) {
  return "CREATE TABLE " + table + " " + kColumns +
         ";\n"
         "COMMIT;\n"
         "SET TERM ^ ;\n"
         "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN\n"
         "  WHILE (I < " +
         std::to_string(rows) +
         ") DO BEGIN\n"
         "    INSERT INTO " +
         table +
         " VALUES (:I, :I * 1000003, 'customer name number ' || :I, 'C' || MOD(:I, 1000),\n"
         "      :I / 100.0, :I / 7.0, DATEADD(MOD(:I, 3650) DAY TO DATE '2000-01-01'),\n"
         "      DATEADD(:I SECOND TO TIMESTAMP '2010-06-01 08:00:00'));\n"
         "    I = I + 1;\n"
         "  END\n"
         "END^\n"
         "SET TERM ; ^\n";
}

// The client library's entries, resolved at run time as the driver does.
class FbClient {
 public:
  FbClient() : m_library(dlopen("libfbclient.so.2", RTLD_NOW)) {
    if (!m_library) throw std::runtime_error(dlerror());
    Resolve(attach, "isc_attach_database");
    Resolve(detach, "isc_detach_database");
    Resolve(startMultiple, "isc_start_multiple");
    Resolve(commit, "isc_commit_transaction");
    Resolve(allocate, "isc_dsql_allocate_statement");
    Resolve(prepare, "isc_dsql_prepare");
    Resolve(execute, "isc_dsql_execute");
    Resolve(executeImmediate, "isc_dsql_execute_immediate");
    Resolve(fetch, "isc_dsql_fetch");
    Resolve(sqlInfo, "isc_dsql_sql_info");
    Resolve(freeStatement, "isc_dsql_free_statement");
    Resolve(interpret, "fb_interpret");
    Resolve(masterInterface, "fb_get_master_interface");
  }
  ~FbClient() { dlclose(m_library); }
  FbClient(const FbClient&) = delete;
  FbClient& operator=(const FbClient&) = delete;

  // Throws the client's own text of a failure, naming the step.
  void Check(const ISC_STATUS* status, const char* step) const {
    if (status[0] != 1 || status[1] == 0) return;
    std::string text = std::string("client library failed at ") + step;
    char buffer[512];
    const ISC_STATUS* vector = status;
    while (interpret(buffer, sizeof buffer, &vector) > 0) text += std::string(": ") + buffer;
    throw std::runtime_error(text);
  }

  isc_db_handle Attach(const std::string& path, const std::string& password) const {
    const std::string user = "SYSDBA";
    std::string dpb = {static_cast<char>(isc_dpb_version1), static_cast<char>(isc_dpb_user_name),
                       static_cast<char>(user.size())};
    dpb += user;
    dpb += {static_cast<char>(isc_dpb_password), static_cast<char>(password.size())};
    dpb += password;
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    attach(status, 0, path.c_str(), &db, static_cast<short>(dpb.size()), dpb.data());
    Check(status, "attach");
    return db;
  }

  // A read committed transaction that waits on locks.
  isc_tr_handle Start(isc_db_handle& db, bool readOnly) const {
    char tpb[] = {isc_tpb_version3, static_cast<char>(readOnly ? isc_tpb_read : isc_tpb_write),
                  isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait};
    struct {
      isc_db_handle* db;
      long length;
      char* tpb;
    } teb = {&db, sizeof tpb, tpb};
    ISC_STATUS_ARRAY status{};
    isc_tr_handle transaction = 0;
    startMultiple(status, &transaction, 1, &teb);
    Check(status, "start");
    return transaction;
  }

  void Commit(isc_tr_handle& transaction) const {
    ISC_STATUS_ARRAY status{};
    commit(status, &transaction);
    Check(status, "commit");
  }

  void Detach(isc_db_handle& db) const {
    ISC_STATUS_ARRAY status{};
    detach(status, &db);
  }

  decltype(&isc_attach_database) attach = nullptr;
  decltype(&isc_detach_database) detach = nullptr;
  decltype(&isc_start_multiple) startMultiple = nullptr;
  decltype(&isc_commit_transaction) commit = nullptr;
  decltype(&isc_dsql_allocate_statement) allocate = nullptr;
  decltype(&isc_dsql_prepare) prepare = nullptr;
  decltype(&isc_dsql_execute) execute = nullptr;
  decltype(&isc_dsql_execute_immediate) executeImmediate = nullptr;
  decltype(&isc_dsql_fetch) fetch = nullptr;
  decltype(&isc_dsql_sql_info) sqlInfo = nullptr;
  decltype(&isc_dsql_free_statement) freeStatement = nullptr;
  decltype(&fb_interpret) interpret = nullptr;
  Firebird::IMaster* (*masterInterface)() = nullptr;

 private:
  template <typename Function>
  void Resolve(Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(m_library, name));
    if (!function) throw std::runtime_error(std::string("libfbclient.so.2 lacks ") + name);
  }

  void* m_library;
};

// A prepared statement's columns bound to one row buffer (each value 8-byte
// aligned, null flags after the values), so that a whole row can be copied
// in and out as one block of bytes.
class RowBuffer {
 public:
  // Binds every column the sqlda describes; the sqlda must stay alive.
  explicit RowBuffer(XSQLDA* sqlda) : m_sqlda(sqlda) {
    std::vector<std::size_t> offsets(static_cast<std::size_t>(sqlda->sqld));
    std::size_t total = 0;
    for (int i = 0; i < sqlda->sqld; ++i) {
      offsets[i] = total;
      total += (static_cast<std::size_t>(sqlda->sqlvar[i].sqllen) + sizeof(short) + 7) / 8 * 8;
    }
    const std::size_t nullsAt = total;
    m_bytes.resize(total + sizeof(short) * static_cast<std::size_t>(sqlda->sqld));
    for (int i = 0; i < sqlda->sqld; ++i) {
      sqlda->sqlvar[i].sqldata = m_bytes.data() + offsets[i];
      sqlda->sqlvar[i].sqlind = reinterpret_cast<short*>(m_bytes.data() + nullsAt) + i;
    }
  }
  RowBuffer(const RowBuffer&) = delete;
  RowBuffer& operator=(const RowBuffer&) = delete;

  std::vector<char>& Bytes() { return m_bytes; }
  XSQLDA* Sqlda() { return m_sqlda; }

 private:
  XSQLDA* m_sqlda;
  std::vector<char> m_bytes;
};

// Room for a statement's description of up to columns columns.
inline std::vector<char> NewSqlda(short columns) {
  std::vector<char> space(XSQLDA_LENGTH(columns));
  auto* sqlda = reinterpret_cast<XSQLDA*>(space.data());
  sqlda->version = SQLDA_VERSION1;
  sqlda->sqln = columns;
  return space;
}

// Reads the first limit rows of the table (all when limit < 0) with the
// client's own fetch loop, no value turned into text; each fetched row goes
// to onRow(buffer). Returns the rows read.
template <typename OnRow>
long RawFetch(const FbClient& client, const std::string& path, const std::string& password,
              const std::string& table, long limit, OnRow onRow) {
  isc_db_handle db = client.Attach(path, password);
  isc_tr_handle transaction = client.Start(db, true);
  ISC_STATUS_ARRAY status{};
  isc_stmt_handle statement = 0;
  client.allocate(status, &db, &statement);
  client.Check(status, "allocate");
  std::vector<char> sqldaSpace = NewSqlda(32);
  auto* out = reinterpret_cast<XSQLDA*>(sqldaSpace.data());
  const std::string sql = "select * from " + table;
  client.prepare(status, &transaction, &statement, 0, sql.c_str(), 3, out);
  client.Check(status, "prepare");
  RowBuffer row(out);
  client.execute(status, &transaction, &statement, 1, nullptr);
  client.Check(status, "execute");
  long rows = 0;
  while ((limit < 0 || rows < limit) && client.fetch(status, &statement, 1, out) == 0) {
    ++rows;
    onRow(row);
  }
  client.freeStatement(status, &statement, DSQL_drop);
  client.Commit(transaction);
  client.Detach(db);
  return rows;
}

// The same read through the client's interfaces (IResultSet::fetchNext,
// one message a row), which the driver's cursors use.
// withKey: each row's RDB$DB_KEY too, as an export of a table reads it.
inline long RawFetchNext(const FbClient& client, const std::string& path, const std::string& password,
                         const std::string& table, bool withKey = false) {
  using namespace Firebird;
  IMaster* master = client.masterInterface();
  ThrowStatusWrapper status(master->getStatus());
  IProvider* provider = master->getDispatcher();
  long rows = 0;
  try {
    IXpbBuilder* dpb = master->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&status, isc_dpb_password, password.c_str());
    IAttachment* attachment = provider->attachDatabase(&status, path.c_str(), dpb->getBufferLength(&status),
                                                       dpb->getBuffer(&status));
    dpb->dispose();
    const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                                 isc_tpb_wait};
    ITransaction* transaction = attachment->startTransaction(&status, sizeof tpb, tpb);
    const std::string sql =
        withKey ? "select " + table + ".*, " + table + ".rdb$db_key from " + table : "select * from " + table;
    IStatement* statement =
        attachment->prepare(&status, transaction, 0, sql.c_str(), 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* metadata = statement->getOutputMetadata(&status);
    std::vector<std::int64_t> message((metadata->getMessageLength(&status) + 7) / 8);
    IResultSet* cursor = statement->openCursor(&status, transaction, nullptr, nullptr, metadata, 0);
    while (cursor->fetchNext(&status, message.data()) == IStatus::RESULT_OK) ++rows;
    cursor->close(&status);
    metadata->release();
    statement->free(&status);
    transaction->commit(&status);
    attachment->detach(&status);
  } catch (const FbException& failure) {
    char text[512];
    master->getUtilInterface()->formatStatus(text, sizeof text, failure.getStatus());
    provider->release();
    status.dispose();
    throw std::runtime_error(std::string("client library failed: ") + text);
  }
  provider->release();
  status.dispose();
  return rows;
}

}  // namespace bench
