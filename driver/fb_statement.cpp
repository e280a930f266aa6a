#include "driver/fb_statement.h"

#include <algorithm>
#include <cstring>

#include "driver/fb_charsets.h"
#include "driver/fb_quote.h"

namespace fbdriver {

namespace {

// Reads a little-endian integer of an info buffer.
std::int64_t InfoInteger(const unsigned char* p, int length) {
  std::uint64_t value = 0;
  for (int i = 0; i < length; ++i) value |= std::uint64_t(p[i]) << (8 * i);
  if (length > 0 && length < 8 && (p[length - 1] & 0x80)) {
    value |= ~std::uint64_t(0) << (8 * length);  // sign-extend
  }
  return static_cast<std::int64_t>(value);
}

// A Firebird 4 server asked for the new types as texts describes them as
// VARCHARs of character set OCTETS of these lengths (see the attachment);
// 0 for any other column.
std::uint16_t NewTypeSubtype(const Column& column) {
  if (column.sqlType != SQL_VARYING || column.charSet != kCharSetOctets) return 0;
  switch (column.sqlLength) {
    case 47:
      return fldstWIDEDECIMAL;
    case 42:
      return fldstDECFLOAT;
    case 58:
      return fldstZONED;
    default:
      return 0;
  }
}

// Fills the description of field i of a message from what the server
// describes; a failure leaves the status failed.
void Describe(Firebird::IMessageMetadata* metadata, unsigned i, Firebird::CheckStatusWrapper* status,
              bool newTypesAsText, Column& column) {
  const char* alias = metadata->getAlias(status, i);
  const char* relation = metadata->getRelation(status, i);
  std::size_t nameLength = alias ? std::min(std::strlen(alias), sizeof column.name - 1) : 0;
  std::memcpy(column.name, alias, nameLength);
  column.name[nameLength] = '\0';
  column.sqlType = metadata->getType(status, i);
  column.sqlSubtype = metadata->getSubType(status, i);
  column.sqlScale = metadata->getScale(status, i);
  column.sqlLength = metadata->getLength(status, i);
  column.nullable = metadata->isNullable(status, i);
  column.readOnly = !relation || !*relation;
  const auto charSet = static_cast<std::uint8_t>(metadata->getCharSet(status, i) & 0xFF);

  switch (column.sqlType) {
    case SQL_TEXT:
    case SQL_VARYING:
      column.type = fldZSTRING;
      column.subtype = column.sqlType == SQL_TEXT ? fldstFIXED : 0;
      column.charSet = charSet;
      column.length = column.sqlLength;
      column.precision = static_cast<std::int16_t>(column.sqlLength / BytesPerChar(column.charSet));
      if (newTypesAsText && column.sqlType == SQL_VARYING) column.subtype = NewTypeSubtype(column);
      break;
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
      // NUMERIC and DECIMAL are stored as scaled integers; subtype 1 and 2
      // mark them even when their scale is 0.
      if (column.sqlScale < 0 || column.sqlSubtype == 1 || column.sqlSubtype == 2) {
        column.type = fldBCD;
        column.length = sizeof(TBcd);
        column.precision = column.sqlType == SQL_SHORT ? 4 : column.sqlType == SQL_LONG ? 9 : 18;
        column.scale = static_cast<std::int16_t>(column.sqlScale);
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
      column.subtype = column.sqlSubtype == isc_blob_text ? fldstMEMO : fldstBINARY;
      if (column.sqlSubtype == isc_blob_text) column.charSet = charSet;
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

void Release(Firebird::IMessageMetadata*& metadata) {
  if (metadata) metadata->release();
  metadata = nullptr;
}

}  // namespace

Statement::Statement(std::shared_ptr<Attachment> attachment)
    : m_attachment(std::move(attachment)), m_status(m_attachment->Client()) {
  m_attachment->Register(this);
}

Statement::~Statement() {
  Drop();
  m_attachment->Unregister(this);
}

SQLResult Statement::ServerFailure(Failure& error) {
  error = StatusFailure(m_attachment->Client(), m_status);
  return kSQLServerError;
}

SQLResult Statement::ExecutionFailure(Failure& error) {
  error = StatusFailure(m_attachment->Client(), m_status);
  if (!RefusedValues(m_status.Errors(), error.sqlState)) return kSQLServerError;
  error.refusal = RefusalKind(m_status.Errors());
  return kSQLValueRefused;
}

SQLResult Statement::Prepare(const char* sql, Firebird::ITransaction* transaction, bool lookUpPrecision,
                             Failure& error) {
  Firebird::IAttachment* attachment = m_attachment->Interface();
  if (!attachment) {
    error = {"The connection is closed"};
    return 3;
  }
  Drop();
  m_statement = attachment->prepare(m_status.Next(), transaction, 0, sql, m_attachment->Dialect(),
                                    Firebird::IStatement::PREPARE_PREFETCH_METADATA);
  if (m_status.Failed()) {
    m_statement = nullptr;
    return ServerFailure(error);
  }
  Firebird::CheckStatusWrapper* status = m_status.Next();
  m_type = m_statement->getType(status);
  if (!m_status.Failed()) m_output = m_statement->getOutputMetadata(status);
  if (!m_status.Failed()) m_input = m_statement->getInputMetadata(status);
  if (!m_status.Failed()) DescribeColumns(transaction, lookUpPrecision);
  if (!m_status.Failed()) DescribeParameters();
  if (m_status.Failed()) {
    const SQLResult result = ServerFailure(error);
    Drop();
    return result;
  }
  return kSQLSuccess;
}

void Statement::DescribeColumns(Firebird::ITransaction* transaction, bool lookUpPrecision) {
  Firebird::CheckStatusWrapper* status = m_status.Next();
  const unsigned count = m_output->getCount(status);
  m_columns.assign(count, Column{});
  m_row.assign((m_output->getMessageLength(status) + 7) / 8, 0);
  char* message = reinterpret_cast<char*>(m_row.data());
  for (unsigned i = 0; i < count && !m_status.Failed(); ++i) {
    Column& column = m_columns[i];
    Describe(m_output, i, status, m_attachment->NewTypesAsText(), column);
    column.data = message + m_output->getOffset(status, i);
    column.indicator = reinterpret_cast<const short*>(message + m_output->getNullOffset(status, i));
  }
  if (!m_status.Failed() && lookUpPrecision) LookUpPrecisions(transaction);
}

void Statement::DescribeParameters() {
  Firebird::CheckStatusWrapper* status = m_status.Next();
  const unsigned count = m_input->getCount(status);
  m_params.assign(count, Parameter{});
  m_sent.assign(count, Sent{});
  for (unsigned i = 0; i < count && !m_status.Failed(); ++i) {
    Column& description = m_params[i].description;
    Describe(m_input, i, status, m_attachment->NewTypesAsText(), description);
    m_sent[i] = {description.sqlType, description.sqlSubtype, description.sqlLength, description.sqlScale,
                 m_input->getCharSet(status, i)};
  }
  // Until a value travels otherwise, the message is the one described.
  m_input->addRef();
  m_sentInput = m_input;
  m_inputOffsets.clear();
}

void Statement::LookUpPrecisions(Firebird::ITransaction* transaction) {
  // Decimal columns get their declared precision; a text that looks like a
  // value of a newer type keeps that reading only when its column is of
  // such a type (an expression has no column to ask).
  struct Wanted {
    std::size_t column;
    std::string relation;
    std::string field;
    bool confirmed = false;
  };
  std::vector<Wanted> wanted;
  std::vector<std::string> relations;
  Firebird::CheckStatusWrapper* status = m_status.Next();
  for (unsigned i = 0; i < m_columns.size(); ++i) {
    const bool newType = m_columns[i].type == fldZSTRING && m_columns[i].subtype >= fldstWIDEDECIMAL;
    if (m_columns[i].type != fldBCD && !newType) continue;
    const char* relation = m_output->getRelation(status, i);
    const char* field = m_output->getField(status, i);
    if (m_status.Failed()) return;
    if (!relation || !*relation || !field || !*field) continue;
    Wanted item{i, relation, field};
    if (std::find(relations.begin(), relations.end(), item.relation) == relations.end()) {
      relations.push_back(item.relation);
    }
    wanted.push_back(std::move(item));
  }
  if (wanted.empty()) return;

  // Field types of INT128, DECFLOAT(16), DECFLOAT(34), TIME and TIMESTAMP
  // WITH TIME ZONE in the catalogue.
  std::string sql =
      "SELECT RF.RDB$RELATION_NAME, RF.RDB$FIELD_NAME, F.RDB$FIELD_PRECISION, F.RDB$FIELD_TYPE"
      " FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE"
      " WHERE (F.RDB$FIELD_PRECISION IS NOT NULL OR F.RDB$FIELD_TYPE IN (24, 25, 26, 28, 29))"
      " AND RF.RDB$RELATION_NAME IN (";
  for (std::size_t i = 0; i < relations.size(); ++i) sql += (i ? ", " : "") + SqlLiteral(relations[i]);
  sql += ")";

  // Without the catalogue's answer the description as given stands.
  Failure ignored;
  Statement lookup(m_attachment);
  if (lookup.Prepare(sql.c_str(), transaction, false, ignored) != kSQLSuccess ||
      lookup.Execute(transaction, ignored) != kSQLSuccess) {
    return;
  }
  const auto& columns = lookup.Columns();
  if (columns.size() != 4 || columns[2].sqlType != SQL_SHORT || columns[3].sqlType != SQL_SHORT) return;
  while (lookup.Fetch(ignored) == kSQLSuccess) {
    std::string relation = ColumnText(columns[0]);
    std::string field = ColumnText(columns[1]);
    short precision = 0;
    short fieldType = 0;
    if (!columns[2].IsNull()) std::memcpy(&precision, columns[2].data, sizeof precision);
    std::memcpy(&fieldType, columns[3].data, sizeof fieldType);
    for (Wanted& item : wanted) {
      if (item.relation != relation || item.field != field) continue;
      Column& column = m_columns[item.column];
      if (column.type == fldBCD && precision > 0) column.precision = precision;
      if (column.type == fldZSTRING) {
        item.confirmed = (column.subtype == fldstWIDEDECIMAL && fieldType == 26) ||
                         (column.subtype == fldstDECFLOAT && (fieldType == 24 || fieldType == 25)) ||
                         (column.subtype == fldstZONED && (fieldType == 28 || fieldType == 29));
      }
    }
  }
  for (const Wanted& item : wanted) {
    Column& column = m_columns[item.column];
    if (column.type == fldZSTRING && !item.confirmed) column.subtype = 0;
  }
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

SQLResult Statement::BindParameters(Firebird::ITransaction* transaction, Failure& error) {
  // How each value travels: a double as a double, a blob's text as a blob of
  // the parameter's own type, other text as CHAR of its own length (in the
  // set of a text parameter, else as bytes the server converts as it does a
  // literal). A null travels as whatever the last message held.
  bool changed = m_inputOffsets.empty();
  for (std::size_t i = 0; i < m_params.size(); ++i) {
    const Parameter& parameter = m_params[i];
    const Column& described = parameter.description;
    Sent sent = m_sent[i];
    if (parameter.kind == Parameter::kDouble) {
      sent = {SQL_DOUBLE, 0, sizeof(double), 0, 0};
    } else if (parameter.kind == Parameter::kText && described.sqlType == SQL_BLOB) {
      sent = {SQL_BLOB, described.sqlSubtype, sizeof(ISC_QUAD), 0, described.charSet};
    } else if (parameter.kind == Parameter::kText) {
      const bool text = described.sqlType == SQL_TEXT || described.sqlType == SQL_VARYING;
      if (parameter.bytes.size() > 32767) {
        // Refused as the server refuses a value too long for its column, but
        // in the driver's own words and without a SQLSTATE.
        error = {.text = "Parameter " + std::to_string(i + 1) + " is a text of " +
                         std::to_string(parameter.bytes.size()) + " bytes; a value for a column of type " +
                         (text ? "CHAR or VARCHAR" : "this kind") + " holds at most " +
                         std::to_string(text ? described.sqlLength : 32767u) + " bytes",
                 .refusal = eRefusedTruncation};
        return kSQLValueRefused;
      }
      sent = {SQL_TEXT, 0, static_cast<unsigned>(parameter.bytes.size()), 0,
              text ? unsigned{described.charSet} : unsigned{kCharSetNone}};
    }
    if (sent != m_sent[i]) {
      m_sent[i] = sent;
      changed = true;
    }
  }

  if (changed) {
    Firebird::CheckStatusWrapper* status = m_status.Next();
    Firebird::IMetadataBuilder* builder = m_input->getBuilder(status);
    for (unsigned i = 0; i < m_sent.size() && !m_status.Failed(); ++i) {
      builder->setType(status, i, m_sent[i].type);
      builder->setSubType(status, i, m_sent[i].subtype);
      builder->setLength(status, i, m_sent[i].length);
      builder->setScale(status, i, m_sent[i].scale);
      builder->setCharSet(status, i, m_sent[i].charSet);
    }
    Firebird::IMessageMetadata* made = m_status.Failed() ? nullptr : builder->getMetadata(status);
    if (builder) builder->release();
    if (m_status.Failed()) return ServerFailure(error);
    Release(m_sentInput);
    m_sentInput = made;
    m_inputOffsets.resize(m_sent.size());
    for (unsigned i = 0; i < m_sent.size(); ++i) {
      m_inputOffsets[i] = {made->getOffset(status, i), made->getNullOffset(status, i)};
    }
    m_inputMessage.assign((made->getMessageLength(status) + 7) / 8, 0);
    if (m_status.Failed()) {
      m_inputOffsets.clear();
      return ServerFailure(error);
    }
  }

  char* message = reinterpret_cast<char*>(m_inputMessage.data());
  for (std::size_t i = 0; i < m_params.size(); ++i) {
    Parameter& parameter = m_params[i];
    char* value = message + m_inputOffsets[i].first;
    const short flag = parameter.kind == Parameter::kNull ? -1 : 0;
    std::memcpy(message + m_inputOffsets[i].second, &flag, sizeof flag);
    if (parameter.kind == Parameter::kDouble) {
      std::memcpy(value, &parameter.real, sizeof parameter.real);
    } else if (parameter.kind == Parameter::kText && m_sent[i].type == SQL_BLOB) {
      // Written anew at each execution: a blob belongs to its transaction.
      ISC_QUAD id{};
      if (SQLResult written = WriteBlob(transaction, parameter.bytes, &id, error); written != kSQLSuccess) {
        return written;
      }
      std::memcpy(value, &id, sizeof id);
    } else if (parameter.kind == Parameter::kText) {
      std::memcpy(value, parameter.bytes.data(), parameter.bytes.size());
    }
  }
  return kSQLSuccess;
}

SQLResult Statement::WriteBlob(Firebird::ITransaction* transaction, const std::string& text, ISC_QUAD* id,
                               Failure& error) {
  Firebird::IBlob* blob = m_attachment->Interface()->createBlob(m_status.Next(), transaction, id, 0, nullptr);
  if (m_status.Failed()) return ServerFailure(error);
  constexpr std::size_t kSegment = 32768;
  for (std::size_t done = 0; done < text.size(); done += kSegment) {
    const auto length = static_cast<unsigned>(std::min(kSegment, text.size() - done));
    blob->putSegment(m_status.Next(), length, text.data() + done);
    if (m_status.Failed()) {
      const SQLResult result = ServerFailure(error);
      blob->cancel(m_status.Next());
      if (m_status.Failed()) blob->release();
      return result;
    }
  }
  blob->close(m_status.Next());
  if (!m_status.Failed()) return kSQLSuccess;
  const SQLResult result = ServerFailure(error);
  blob->release();
  return result;
}

bool Statement::ReturnsRows() const {
  return m_type == isc_info_sql_stmt_select || m_type == isc_info_sql_stmt_select_for_upd;
}

bool Statement::ControlsTransaction() const {
  return m_type == isc_info_sql_stmt_start_trans || m_type == isc_info_sql_stmt_commit ||
         m_type == isc_info_sql_stmt_rollback;
}

SQLResult Statement::Execute(Firebird::ITransaction* transaction, Failure& error) {
  if (!Prepared() || !m_attachment->Attached()) {
    error = {"The statement is not prepared"};
    return 3;
  }
  CloseCursor();
  Firebird::IMessageMetadata* input = nullptr;
  void* inputMessage = nullptr;
  if (!m_params.empty()) {
    if (SQLResult bound = BindParameters(transaction, error); bound != kSQLSuccess) return bound;
    input = m_sentInput;
    inputMessage = m_inputMessage.data();
  }
  if (ReturnsRows()) {
    m_cursor = m_statement->openCursor(m_status.Next(), transaction, input, inputMessage, m_output, 0);
    if (m_status.Failed()) {
      m_cursor = nullptr;
      return ExecutionFailure(error);
    }
    m_cursorTransaction = transaction;
    return kSQLSuccess;
  }
  // A procedure's output parameters come back with the execution itself.
  m_statement->execute(m_status.Next(), transaction, input, inputMessage,
                       m_columns.empty() ? nullptr : m_output, m_columns.empty() ? nullptr : m_row.data());
  if (m_status.Failed()) return ExecutionFailure(error);
  return kSQLSuccess;
}

SQLResult Statement::RowsAffected(std::uint64_t* rows, Failure& error) {
  *rows = 0;
  if (!m_statement) return kSQLSuccess;
  const unsigned char item = isc_info_sql_records;
  unsigned char info[64] = {};
  m_statement->getInfo(m_status.Next(), 1, &item, sizeof info, info);
  if (m_status.Failed()) return ServerFailure(error);
  if (info[0] != isc_info_sql_records) return kSQLSuccess;
  const unsigned char* p = info + 3;
  const unsigned char* end = info + sizeof info;
  std::int64_t total = 0;
  while (p + 3 <= end && *p != isc_info_end) {
    const unsigned char counter = *p;
    const int length = static_cast<int>(InfoInteger(p + 1, 2));
    if (p + 3 + length > end) break;
    const std::int64_t value = InfoInteger(p + 3, length);
    if (counter == isc_info_req_insert_count || counter == isc_info_req_update_count ||
        counter == isc_info_req_delete_count) {
      total += value;
    }
    p += 3 + length;
  }
  *rows = static_cast<std::uint64_t>(std::max<std::int64_t>(total, 0));
  return kSQLSuccess;
}

std::uint64_t Statement::OpenResult(Transaction transaction) {
  m_resultTransaction = std::move(transaction);
  m_resultShared = nullptr;
  m_resultOpen = true;
  return ++m_result;
}

std::uint64_t Statement::OpenSharedResult(Firebird::ITransaction* transaction) {
  m_resultShared = transaction;
  m_resultOpen = true;
  return ++m_result;
}

SQLResult Statement::Fetch(Failure& error) {
  if (!m_cursor) {
    error = {"The cursor is closed"};
    return 3;
  }
  const int result = m_cursor->fetchNext(m_status.Next(), m_row.data());
  if (result == Firebird::IStatus::RESULT_OK) return kSQLSuccess;
  if (result == Firebird::IStatus::RESULT_NO_DATA) return kSQLNoData;
  return ServerFailure(error);
}

void Statement::CloseCursor() {
  if (!m_cursor) return;
  m_cursor->close(m_status.Next());
  if (m_status.Failed()) m_cursor->release();
  m_cursor = nullptr;
  m_cursorTransaction = nullptr;
}

void Statement::TransactionEnds(Firebird::ITransaction* transaction) {
  if (m_cursor && m_cursorTransaction == transaction) CloseCursor();
}

void Statement::CloseResult(bool commit) {
  if (!m_resultOpen) return;
  m_resultOpen = false;
  CloseCursor();
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
  CloseCursor();
  Release(m_output);
  Release(m_input);
  Release(m_sentInput);
  m_inputOffsets.clear();
  if (m_statement) {
    // Once the attachment is gone the statement went with it; only the
    // interface is left to release.
    if (m_attachment->Attached()) m_statement->free(m_status.Next());
    if (!m_attachment->Attached() || m_status.Failed()) m_statement->release();
    m_statement = nullptr;
  }
}

}  // namespace fbdriver
