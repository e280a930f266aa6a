#include "driver/fb_statement.h"

#include <firebird/Interface.h>

#include <algorithm>
#include <cstring>

#include "driver/fb_charsets.h"
#include "driver/fb_quote.h"

namespace fbdriver {

namespace {

constexpr short kSqlDaVersion = SQLDA_VERSION1;

// Reads a little-endian integer of an info buffer.
std::int64_t InfoInteger(const char* p, int length) {
  std::uint64_t value = 0;
  for (int i = 0; i < length; ++i) value |= std::uint64_t(static_cast<unsigned char>(p[i])) << (8 * i);
  if (length > 0 && length < 8 && (static_cast<unsigned char>(p[length - 1]) & 0x80)) {
    value |= ~std::uint64_t(0) << (8 * length);  // sign-extend
  }
  return static_cast<std::int64_t>(value);
}

std::size_t StorageSize(short sqlType, short sqlLength) {
  switch (sqlType) {
    case SQL_TEXT:
      return static_cast<unsigned short>(sqlLength);
    case SQL_VARYING:
      return static_cast<unsigned short>(sqlLength) + sizeof(short);
    case SQL_SHORT:
      return sizeof(ISC_SHORT);
    case SQL_LONG:
    case SQL_FLOAT:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
      return 4;
    case SQL_BOOLEAN:
      return 1;
    case SQL_NULL:
      return 0;
    case SQL_INT64:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
    case SQL_TIMESTAMP:
    case SQL_BLOB:
    case SQL_ARRAY:
    case SQL_QUAD:
      return 8;
    default:
      return static_cast<unsigned short>(sqlLength);
  }
}

// Fills the description of a column from what the server describes.
void Describe(const XSQLVAR& var, Column& column) {
  std::size_t nameLength = std::min<std::size_t>(
      static_cast<std::size_t>(std::max<short>(var.aliasname_length, 0)), sizeof column.name - 1);
  std::memcpy(column.name, var.aliasname, nameLength);
  column.name[nameLength] = '\0';
  column.sqlType = static_cast<short>(var.sqltype & ~1);
  column.sqlScale = var.sqlscale;
  column.sqlLength = static_cast<std::uint16_t>(var.sqllen);
  column.nullable = (var.sqltype & 1) != 0;
  column.readOnly = var.relname_length <= 0;

  switch (column.sqlType) {
    case SQL_TEXT:
    case SQL_VARYING:
      column.type = fldZSTRING;
      column.subtype = column.sqlType == SQL_TEXT ? fldstFIXED : 0;
      column.charSet = static_cast<std::uint8_t>(var.sqlsubtype & 0xFF);
      column.length = column.sqlLength;
      column.precision = static_cast<std::int16_t>(column.sqlLength / BytesPerChar(column.charSet));
      break;
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
      // NUMERIC and DECIMAL are stored as scaled integers; subtype 1 and 2
      // mark them even when their scale is 0.
      if (var.sqlscale < 0 || var.sqlsubtype == 1 || var.sqlsubtype == 2) {
        column.type = fldBCD;
        column.length = sizeof(TBcd);
        column.precision = column.sqlType == SQL_SHORT ? 4 : column.sqlType == SQL_LONG ? 9 : 18;
        column.scale = var.sqlscale;
      } else if (column.sqlType == SQL_SHORT) {
        column.type = fldINT16;
        column.length = 2;
      } else if (column.sqlType == SQL_LONG) {
        column.type = fldINT32;
        column.length = 4;
      } else {
        column.type = fldINT64;
        column.length = 8;
      }
      break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      column.type = fldFLOAT;
      column.length = sizeof(double);
      break;
    case SQL_TYPE_DATE:
      column.type = fldDATE;
      column.length = 4;
      break;
    case SQL_TYPE_TIME:
      column.type = fldTIME;
      column.length = 4;
      break;
    case SQL_TIMESTAMP:
      column.type = fldDATETIMESTAMP;
      column.length = sizeof(TSQLTimeStamp);
      break;
    case SQL_BOOLEAN:
      column.type = fldBOOL;
      column.length = sizeof(bool);
      break;
    case SQL_BLOB:
      column.type = fldBLOB;
      column.subtype = var.sqlsubtype == isc_blob_text ? fldstMEMO : fldstBINARY;
      // A text blob's character set travels in its scale.
      if (var.sqlsubtype == isc_blob_text) column.charSet = static_cast<std::uint8_t>(var.sqlscale & 0xFF);
      column.length = sizeof(ISC_QUAD);
      break;
    case SQL_ARRAY:
      column.type = fldARRAY;
      column.length = sizeof(ISC_QUAD);
      break;
    default:
      column.type = fldUNKNOWN;
      column.length = 0;
      break;
  }
}

std::string TrimRight(const char* text, std::size_t length) {
  while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\0')) --length;
  return std::string(text, length);
}

// The text of a CHAR or VARCHAR column of the current row.
std::string ColumnText(const Column& column) {
  if (column.IsNull()) return {};
  if (column.sqlType == SQL_VARYING) {
    short length;
    std::memcpy(&length, column.data, sizeof length);
    return TrimRight(column.data + sizeof(short), static_cast<unsigned short>(length));
  }
  return TrimRight(column.data, column.sqlLength);
}

}  // namespace

Statement::Statement(std::shared_ptr<Attachment> attachment) : m_attachment(std::move(attachment)) {
  m_attachment->Register(this);
}

const std::vector<short> Statement::kNoIndicators;

Statement::~Statement() {
  Drop();
  m_attachment->Unregister(this);
  if (m_status) m_status->dispose();
}

SQLResult Statement::ServerFailure(const ISC_STATUS* status, Failure& error) const {
  error = StatusFailure(m_attachment->Client(), status);
  return kSQLServerError;
}

SQLResult Statement::Prepare(const char* sql, isc_tr_handle* transaction, bool lookUpPrecision,
                             Failure& error) {
  if (!m_attachment->Attached()) {
    error = {"The connection is closed"};
    return 3;
  }
  const FbClient& api = m_attachment->Client();
  ISC_STATUS_ARRAY status{};
  if (!m_handle) {
    api.allocateStatement(status, m_attachment->Handle(), &m_handle);
    if (Failed(status)) {
      m_handle = 0;
      return ServerFailure(status, error);
    }
  }
  m_columns.clear();
  m_prepared = false;
  DropInterfaceStatement();
  m_sql = sql;

  short room = 32;
  m_sqlda = std::make_unique<char[]>(XSQLDA_LENGTH(room));
  auto* sqlda = reinterpret_cast<XSQLDA*>(m_sqlda.get());
  sqlda->version = kSqlDaVersion;
  sqlda->sqln = room;
  api.prepare(status, transaction, &m_handle, 0, sql, m_attachment->Dialect(), sqlda);
  if (Failed(status)) return ServerFailure(status, error);
  if (sqlda->sqld > sqlda->sqln) {
    room = sqlda->sqld;
    m_sqlda = std::make_unique<char[]>(XSQLDA_LENGTH(room));
    sqlda = reinterpret_cast<XSQLDA*>(m_sqlda.get());
    sqlda->version = kSqlDaVersion;
    sqlda->sqln = room;
    api.describe(status, &m_handle, kSqlDaVersion, sqlda);
    if (Failed(status)) return ServerFailure(status, error);
  }

  char item = isc_info_sql_stmt_type;
  char info[16] = {};
  api.sqlInfo(status, &m_handle, 1, &item, sizeof info, info);
  if (Failed(status)) return ServerFailure(status, error);
  m_type = info[0] == isc_info_sql_stmt_type
               ? static_cast<int>(InfoInteger(info + 3, static_cast<int>(InfoInteger(info + 1, 2))))
               : 0;
  DescribeColumns(transaction, lookUpPrecision);
  if (SQLResult described = DescribeParameters(error); described != kSQLSuccess) return described;
  m_prepared = true;
  return kSQLSuccess;
}

SQLResult Statement::DescribeParameters(Failure& error) {
  m_params.clear();
  m_inSqlda.reset();
  const FbClient& api = m_attachment->Client();
  ISC_STATUS_ARRAY status{};
  short room = 16;
  for (;;) {
    m_inSqlda = std::make_unique<char[]>(XSQLDA_LENGTH(room));
    auto* sqlda = reinterpret_cast<XSQLDA*>(m_inSqlda.get());
    sqlda->version = kSqlDaVersion;
    sqlda->sqln = room;
    api.describeBind(status, &m_handle, kSqlDaVersion, sqlda);
    if (Failed(status)) return ServerFailure(status, error);
    if (sqlda->sqld <= sqlda->sqln) break;
    room = sqlda->sqld;
  }
  auto* sqlda = reinterpret_cast<XSQLDA*>(m_inSqlda.get());
  m_params.resize(static_cast<std::size_t>(sqlda->sqld));
  for (std::size_t i = 0; i < m_params.size(); ++i) {
    const XSQLVAR& var = sqlda->sqlvar[i];
    Parameter& parameter = m_params[i];
    Describe(var, parameter.description);
    parameter.sqlType = static_cast<short>(var.sqltype & ~1);
    parameter.sqlSubtype = var.sqlsubtype;
  }
  return kSQLSuccess;
}

bool Statement::SetParameterNull(std::size_t index) {
  if (index >= m_params.size()) return false;
  m_params[index].kind = Parameter::kNull;
  return true;
}

bool Statement::SetParameterText(std::size_t index, const char* data, std::size_t length) {
  if (index >= m_params.size() || (!data && length > 0)) return false;
  m_params[index].kind = Parameter::kText;
  m_params[index].bytes.assign(data ? data : "", length);
  return true;
}

bool Statement::SetParameterDouble(std::size_t index, double value) {
  if (index >= m_params.size()) return false;
  m_params[index].kind = Parameter::kDouble;
  m_params[index].real = value;
  return true;
}

SQLResult Statement::BindParameters(isc_tr_handle* transaction, Failure& error) {
  auto* sqlda = reinterpret_cast<XSQLDA*>(m_inSqlda.get());
  const FbClient& api = m_attachment->Client();
  for (std::size_t i = 0; i < m_params.size(); ++i) {
    Parameter& parameter = m_params[i];
    XSQLVAR& var = sqlda->sqlvar[i];
    var.sqlind = &parameter.indicator;
    var.sqlscale = 0;
    if (parameter.kind == Parameter::kNull) {
      // Every field of the variable is set anew: a length left from an
      // earlier text would shift the rest of the message over the network.
      parameter.indicator = -1;
      var.sqltype = SQL_TEXT | 1;
      var.sqlsubtype = 0;
      var.sqllen = 0;
      var.sqldata = parameter.bytes.data();
      continue;
    }
    parameter.indicator = 0;
    if (parameter.kind == Parameter::kDouble) {
      var.sqltype = SQL_DOUBLE | 1;
      var.sqlsubtype = 0;
      var.sqllen = sizeof(double);
      var.sqldata = reinterpret_cast<char*>(&parameter.real);
      continue;
    }
    if (parameter.sqlType == SQL_BLOB) {
      // Written anew at each execution: a blob belongs to its transaction.
      ISC_STATUS_ARRAY status{};
      isc_blob_handle blob = 0;
      parameter.blob = ISC_QUAD{};
      api.createBlob(status, m_attachment->Handle(), transaction, &blob, &parameter.blob, 0, nullptr);
      if (Failed(status)) return ServerFailure(status, error);
      constexpr std::size_t kSegment = 32768;
      for (std::size_t done = 0; done < parameter.bytes.size(); done += kSegment) {
        const auto length = static_cast<unsigned short>(std::min(kSegment, parameter.bytes.size() - done));
        api.putSegment(status, &blob, length, parameter.bytes.data() + done);
        if (Failed(status)) {
          error = StatusFailure(api, status);
          ISC_STATUS_ARRAY ignored{};
          api.closeBlob(ignored, &blob);
          return kSQLServerError;
        }
      }
      api.closeBlob(status, &blob);
      if (Failed(status)) return ServerFailure(status, error);
      var.sqltype = SQL_BLOB | 1;
      var.sqlsubtype = parameter.sqlSubtype;
      var.sqllen = sizeof(ISC_QUAD);
      var.sqldata = reinterpret_cast<char*>(&parameter.blob);
      continue;
    }
    if (parameter.bytes.size() > 32767) {
      // Refused as the server refuses a value too long for its column, but
      // in the driver's own words and without a SQLSTATE.
      std::string text =
          "Parameter " + std::to_string(i + 1) + " is a text of " + std::to_string(parameter.bytes.size()) +
          " bytes; a value for a column of type " +
          (parameter.sqlType == SQL_TEXT || parameter.sqlType == SQL_VARYING ? "CHAR or VARCHAR"
                                                                             : "this kind") +
          " holds at most " +
          std::to_string(parameter.sqlType == SQL_TEXT || parameter.sqlType == SQL_VARYING
                             ? static_cast<unsigned>(parameter.description.sqlLength)
                             : 32767u) +
          " bytes";
      error = {.text = std::move(text), .refusal = eRefusedTruncation};
      return kSQLValueRefused;
    }
    var.sqltype = SQL_TEXT | 1;
    // A text keeps the character set of a text parameter; any other is read as plain bytes.
    var.sqlsubtype =
        parameter.sqlType == SQL_TEXT || parameter.sqlType == SQL_VARYING ? parameter.sqlSubtype : short{0};
    var.sqllen = static_cast<short>(parameter.bytes.size());
    var.sqldata = parameter.bytes.data();
  }
  return kSQLSuccess;
}

SQLResult Statement::ExecutionFailure(const ISC_STATUS* status, Failure& error) const {
  error = StatusFailure(m_attachment->Client(), status);
  if (!RefusedValues(status, error.sqlState)) return kSQLServerError;
  error.refusal = RefusalKind(status);
  return kSQLValueRefused;
}

void Statement::DescribeColumns(isc_tr_handle* transaction, bool lookUpPrecision) {
  auto* sqlda = reinterpret_cast<XSQLDA*>(m_sqlda.get());
  const int count = sqlda->sqld;
  m_columns.assign(count, Column{});
  m_indicators.assign(count, 0);

  // One buffer for the whole row, each value 8-byte aligned.
  std::vector<std::size_t> offsets(count);
  std::size_t total = 0;
  for (int i = 0; i < count; ++i) {
    XSQLVAR& var = sqlda->sqlvar[i];
    Describe(var, m_columns[i]);
    offsets[i] = total;
    total += (StorageSize(m_columns[i].sqlType, var.sqllen) + 7) / 8 * 8;
  }
  m_buffer.assign(std::max<std::size_t>(total / 8, 1), 0);
  char* base = reinterpret_cast<char*>(m_buffer.data());
  for (int i = 0; i < count; ++i) {
    XSQLVAR& var = sqlda->sqlvar[i];
    var.sqldata = base + offsets[i];
    var.sqlind = &m_indicators[i];
    var.sqltype |= 1;  // always report nulls through the indicator
    m_columns[i].data = var.sqldata;
    m_columns[i].indicator = &m_indicators[i];
  }
  if (lookUpPrecision) LookUpPrecisions(transaction);
}

void Statement::LookUpPrecisions(isc_tr_handle* transaction) {
  auto* sqlda = reinterpret_cast<XSQLDA*>(m_sqlda.get());
  struct Wanted {
    std::size_t column;
    std::string relation;
    std::string field;
  };
  std::vector<Wanted> wanted;
  std::vector<std::string> relations;
  for (std::size_t i = 0; i < m_columns.size(); ++i) {
    const XSQLVAR& var = sqlda->sqlvar[i];
    if (m_columns[i].type != fldBCD || var.relname_length <= 0 || var.sqlname_length <= 0) continue;
    Wanted item{i, std::string(var.relname, var.relname_length),
                std::string(var.sqlname, var.sqlname_length)};
    if (std::find(relations.begin(), relations.end(), item.relation) == relations.end()) {
      relations.push_back(item.relation);
    }
    wanted.push_back(std::move(item));
  }
  if (wanted.empty()) return;

  std::string sql =
      "SELECT RF.RDB$RELATION_NAME, RF.RDB$FIELD_NAME, F.RDB$FIELD_PRECISION"
      " FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE"
      " WHERE F.RDB$FIELD_PRECISION IS NOT NULL AND RF.RDB$RELATION_NAME IN (";
  for (std::size_t i = 0; i < relations.size(); ++i) sql += (i ? ", " : "") + SqlLiteral(relations[i]);
  sql += ")";

  // Without the declared precision the one inferred from the storage stands.
  Failure ignored;
  Statement lookup(m_attachment);
  if (lookup.Prepare(sql.c_str(), transaction, false, ignored) != kSQLSuccess ||
      lookup.Execute(transaction, ignored) != kSQLSuccess) {
    return;
  }
  const auto& columns = lookup.Columns();
  if (columns.size() != 3 || columns[2].sqlType != SQL_SHORT) return;
  while (lookup.Fetch(ignored) == kSQLSuccess) {
    if (columns[2].IsNull()) continue;
    std::string relation = ColumnText(columns[0]);
    std::string field = ColumnText(columns[1]);
    short precision;
    std::memcpy(&precision, columns[2].data, sizeof precision);
    for (const Wanted& item : wanted) {
      if (item.relation == relation && item.field == field && precision > 0) {
        m_columns[item.column].precision = precision;
      }
    }
  }
}

bool Statement::ReturnsRows() const {
  return m_type == isc_info_sql_stmt_select || m_type == isc_info_sql_stmt_select_for_upd;
}

bool Statement::ControlsTransaction() const {
  return m_type == isc_info_sql_stmt_start_trans || m_type == isc_info_sql_stmt_commit ||
         m_type == isc_info_sql_stmt_rollback;
}

SQLResult Statement::Execute(isc_tr_handle* transaction, Failure& error) {
  if (!Prepared() || !m_attachment->Attached()) {
    error = {"The statement is not prepared"};
    return 3;
  }
  const FbClient& api = m_attachment->Client();
  ISC_STATUS_ARRAY status{};
  XSQLDA* input = nullptr;
  if (!m_params.empty()) {
    if (SQLResult bound = BindParameters(transaction, error); bound != kSQLSuccess) return bound;
    input = reinterpret_cast<XSQLDA*>(m_inSqlda.get());
  }
  CloseInterfaceCursor();
  if (SQLResult opened; OpenInterfaceCursor(transaction, opened, error)) return opened;
  auto* sqlda = reinterpret_cast<XSQLDA*>(m_sqlda.get());
  if (m_type == isc_info_sql_stmt_exec_procedure && sqlda->sqld > 0) {
    // A procedure's output parameters come back with the execution itself.
    api.execute2(status, transaction, &m_handle, kSqlDaVersion, input, sqlda);
  } else {
    api.execute(status, transaction, &m_handle, kSqlDaVersion, input);
  }
  if (Failed(status)) return ExecutionFailure(status, error);
  return kSQLSuccess;
}

SQLResult Statement::RowsAffected(std::uint32_t* rows, Failure& error) {
  *rows = 0;
  if (!m_handle) return kSQLSuccess;
  char item = isc_info_sql_records;
  char info[64] = {};
  ISC_STATUS_ARRAY status{};
  m_attachment->Client().sqlInfo(status, &m_handle, 1, &item, sizeof info, info);
  if (Failed(status)) return ServerFailure(status, error);
  if (info[0] != isc_info_sql_records) return kSQLSuccess;
  const char* p = info + 3;
  const char* end = info + sizeof info;
  std::int64_t total = 0;
  while (p + 3 <= end && *p != isc_info_end) {
    char counter = *p;
    int length = static_cast<int>(InfoInteger(p + 1, 2));
    if (p + 3 + length > end) break;
    std::int64_t value = InfoInteger(p + 3, length);
    if (counter == isc_info_req_insert_count || counter == isc_info_req_update_count ||
        counter == isc_info_req_delete_count) {
      total += value;
    }
    p += 3 + length;
  }
  *rows = static_cast<std::uint32_t>(std::clamp<std::int64_t>(total, 0, UINT32_MAX));
  return kSQLSuccess;
}

std::uint64_t Statement::OpenResult(Transaction transaction) {
  m_resultTransaction = std::move(transaction);
  m_resultShared = nullptr;
  m_resultOpen = true;
  return ++m_result;
}

std::uint64_t Statement::OpenSharedResult(isc_tr_handle* transaction) {
  m_resultShared = transaction;
  m_resultOpen = true;
  return ++m_result;
}

Firebird::IStatus* Statement::InterfaceStatus() {
  if (!m_status) m_status = m_attachment->Client().masterInterface()->getStatus();
  // Errors of an earlier call must not show through a later one's warnings.
  m_status->init();
  return m_status;
}

bool Statement::OpenInterfaceCursor(isc_tr_handle* transaction, SQLResult& result, Failure& error) {
  Firebird::IAttachment* attachment = m_attachment->Interface();
  if (!attachment || m_interfaceRefused || !ReturnsRows() || !m_params.empty()) return false;
  Firebird::ITransaction* owner = m_attachment->TransactionInterface(*transaction);
  if (!owner) return false;
  Firebird::CheckStatusWrapper status(InterfaceStatus());
  auto failed = [&status] { return (status.getState() & Firebird::IStatus::STATE_ERRORS) != 0; };
  if (!m_interface) {
    // Prepared a second time here; it is used only when it describes every
    // column as the handle's statement does. A failure here (a cancel, a
    // lost connection) is the execution's.
    m_interface = attachment->prepare(&status, owner, 0, m_sql.c_str(), m_attachment->Dialect(),
                                      Firebird::IStatement::PREPARE_PREFETCH_METADATA);
    if (!failed()) m_metadata = m_interface->getOutputMetadata(&status);
    bool alike = !failed() && m_metadata->getCount(&status) == m_columns.size();
    m_offsets.clear();
    for (unsigned i = 0; alike && i < m_columns.size() && !failed(); ++i) {
      const Column& column = m_columns[i];
      // A blob's descriptor holds its character set where a number's holds the scale.
      alike = static_cast<short>(m_metadata->getType(&status, i) & ~1) == column.sqlType &&
              m_metadata->getLength(&status, i) == column.sqlLength &&
              (column.sqlType == SQL_BLOB || m_metadata->getScale(&status, i) == column.sqlScale);
      m_offsets.emplace_back(m_metadata->getOffset(&status, i), m_metadata->getNullOffset(&status, i));
    }
    const unsigned length = alike && !failed() ? m_metadata->getMessageLength(&status) : 0;
    if (failed()) {
      result = ExecutionFailure(status.getErrors(), error);
      DropInterfaceStatement();
      return true;
    }
    if (!alike) {
      DropInterfaceStatement();
      m_interfaceRefused = true;
      return false;
    }
    m_message.assign((length + 7) / 8, 0);
  }
  m_cursor = m_interface->openCursor(&status, owner, nullptr, nullptr, m_metadata, 0);
  if (failed()) {
    m_cursor = nullptr;
    result = ExecutionFailure(status.getErrors(), error);
    return true;
  }
  m_cursorTransaction = *transaction;
  char* message = reinterpret_cast<char*>(m_message.data());
  for (std::size_t i = 0; i < m_columns.size(); ++i) {
    m_columns[i].data = message + m_offsets[i].first;
    m_columns[i].indicator = reinterpret_cast<const short*>(message + m_offsets[i].second);
  }
  result = kSQLSuccess;
  return true;
}

void Statement::TransactionEnds(isc_tr_handle transaction) {
  // The client frees a cursor with its transaction: it is closed first.
  if (m_cursor && m_cursorTransaction == transaction) CloseInterfaceCursor();
}

void Statement::CloseInterfaceCursor() {
  if (!m_cursor) return;
  Firebird::CheckStatusWrapper status(InterfaceStatus());
  m_cursor->close(&status);
  if (status.getState() & Firebird::IStatus::STATE_ERRORS) m_cursor->release();
  m_cursor = nullptr;
  auto* sqlda = reinterpret_cast<XSQLDA*>(m_sqlda.get());
  for (std::size_t i = 0; i < m_columns.size(); ++i) {
    m_columns[i].data = sqlda->sqlvar[i].sqldata;
    m_columns[i].indicator = &m_indicators[i];
  }
}

void Statement::DropInterfaceStatement() {
  CloseInterfaceCursor();
  if (m_metadata) m_metadata->release();
  m_metadata = nullptr;
  if (m_interface) {
    Firebird::CheckStatusWrapper status(InterfaceStatus());
    m_interface->free(&status);
    if (status.getState() & Firebird::IStatus::STATE_ERRORS) m_interface->release();
  }
  m_interface = nullptr;
  m_interfaceRefused = false;
}

SQLResult Statement::Fetch(Failure& error) {
  if (m_cursor) {
    Firebird::CheckStatusWrapper status(InterfaceStatus());
    const int result = m_cursor->fetchNext(&status, m_message.data());
    if (status.getState() & Firebird::IStatus::STATE_ERRORS) return ServerFailure(status.getErrors(), error);
    if (result == Firebird::IStatus::RESULT_OK) return kSQLSuccess;
    if (result == Firebird::IStatus::RESULT_NO_DATA) return kSQLNoData;
    return ServerFailure(status.getErrors(), error);
  }
  ISC_STATUS_ARRAY status{};
  ISC_STATUS result = m_attachment->Client().fetch(status, &m_handle, kSqlDaVersion,
                                                   reinterpret_cast<XSQLDA*>(m_sqlda.get()));
  if (result == 0) return kSQLSuccess;
  if (result == 100) return kSQLNoData;
  return ServerFailure(status, error);
}

void Statement::CloseResult(bool commit) {
  if (!m_resultOpen) return;
  m_resultOpen = false;
  ISC_STATUS_ARRAY status{};
  if (m_cursor) {
    CloseInterfaceCursor();
  } else if (m_handle) {
    m_attachment->Client().freeStatement(status, &m_handle, DSQL_close);
  }
  if (m_resultShared) {
    m_resultShared = nullptr;
    return;
  }
  Failure ignored;
  if (commit) {
    m_resultTransaction.Commit(ignored);
  } else {
    m_resultTransaction.Rollback();
  }
}

void Statement::Drop() {
  CloseResult(true);
  if (m_attachment->Attached()) {
    DropInterfaceStatement();
  } else {
    // The cursor went with its transaction; the statement and its
    // description outlive a detach until released.
    m_cursor = nullptr;
    if (m_metadata) m_metadata->release();
    m_metadata = nullptr;
    if (m_interface) m_interface->release();
    m_interface = nullptr;
  }
  if (m_handle) {
    ISC_STATUS_ARRAY status{};
    if (m_attachment->Attached()) m_attachment->Client().freeStatement(status, &m_handle, DSQL_drop);
    m_handle = 0;
  }
}

}  // namespace fbdriver
