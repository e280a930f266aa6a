#include <cstring>

#include "driver/fb_objects.h"

namespace fbdriver {

namespace {

SQLResult PutInteger(std::int32_t value, void* buffer, std::int32_t bufferSize, std::int32_t* length) {
  if (!buffer || bufferSize < static_cast<std::int32_t>(sizeof value)) return kInvalidLength;
  std::memcpy(buffer, &value, sizeof value);
  if (length) *length = sizeof value;
  return kSQLSuccess;
}

// Copies text with its closing zero; a text that does not fit is refused
// rather than cut.
SQLResult PutText(const std::string& text, void* buffer, std::int32_t bufferSize, std::int32_t* length) {
  if (!buffer || bufferSize <= 0 || text.size() >= static_cast<std::size_t>(bufferSize))
    return kInvalidLength;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  if (length) *length = static_cast<std::int32_t>(text.size());
  return kSQLSuccess;
}

}  // namespace

SQLResult Connection::connect(const char* database, const char* user, const char* password) {
  Disconnect();
  auto attachment = std::make_shared<Attachment>(m_client, m_settings);
  Failure error;
  SQLResult status =
      attachment->Attach(database ? database : "", user ? user : "", password ? password : "", error);
  if (status != kSQLSuccess) return Fail(status, error);
  m_attachment = std::move(attachment);
  return kSQLSuccess;
}

SQLResult Connection::disconnect() {
  Disconnect();
  return kSQLSuccess;
}

void Connection::Disconnect() {
  // Statements, cursors and catalogue objects still held by the layer keep
  // the attachment object alive, but it is detached here: their open
  // transactions are ended first and they answer "closed" afterwards.
  if (m_attachment) m_attachment->Detach();
  m_attachment.reset();
}

SQLResult Connection::cancel() {
  // Only the attachment is read here; the thread that runs the call being
  // cancelled does not change it. The error text belongs to that thread, so
  // a failure here answers a code alone.
  if (!m_attachment || !m_attachment->Attached()) return kSQLSuccess;
  return m_attachment->Cancel() ? kSQLSuccess : kNotSupported;
}

SQLResult Connection::getSQLCommand(ISQLCommand** command) {
  if (!command) return Fail(kInvalidParameter, "No place for the statement given");
  *command = nullptr;
  if (!m_attachment) return Fail(kInvalidHandle, "The connection is not open");
  *command = new Command(m_attachment);
  return kSQLSuccess;
}

SQLResult Connection::getSQLMetaData(ISQLMetaData** metaData) {
  if (!metaData) return Fail(kInvalidParameter, "No place for the catalogue given");
  *metaData = nullptr;
  if (!m_attachment) return Fail(kInvalidHandle, "The connection is not open");
  *metaData = new MetaData(m_attachment);
  return kSQLSuccess;
}

SQLResult Connection::startTransaction(std::int32_t isolation) {
  if (!m_attachment || !m_attachment->Attached()) return Fail(kInvalidHandle, "The connection is not open");
  if (isolation != eTxnReadCommitted && isolation != eTxnSnapshot && isolation != eTxnSnapshotReadOnly) {
    return Fail(14, "Unknown transaction isolation level");
  }
  Failure error;
  SQLResult status = m_attachment->StartShared(isolation, error);
  return status == kSQLSuccess ? status : Fail(status, error);
}

SQLResult Connection::commit() { return EndTransaction(true); }

SQLResult Connection::rollback() { return EndTransaction(false); }

SQLResult Connection::EndTransaction(bool commit) {
  if (!m_attachment) return Fail(kSQLNoTransaction, "No transaction is active");
  Failure error;
  SQLResult status = m_attachment->EndShared(commit, error);
  return status == kSQLSuccess ? status : Fail(status, error);
}

SQLResult Connection::inTransaction(bool* active) {
  if (!active) return Fail(kInvalidParameter, "No place for the answer given");
  *active = m_attachment && m_attachment->SharedTransaction();
  return kSQLSuccess;
}

SQLResult Connection::setOption(TConnectionOption option, std::int32_t value) {
  switch (option) {
    case eConnWaitOnLocks:
      m_settings.waitOnLocks = value != 0;
      break;
    case eConnCommitRetain:
      // Every statement commits its own transaction at once, so there is
      // nothing to retain; the value is kept only to be read back.
      m_settings.commitRetain = value != 0;
      break;
    case eConnTxnIsoLevel:
      if (value < 0 || value > 2) return Fail(14, "Unknown transaction isolation level");
      m_settings.isolation = value;
      break;
    case eConnSqlDialect:
      if (value < 1 || value > 3) return Fail(kInvalidParameter, "The SQL dialect must be 1, 2 or 3");
      m_settings.dialect = value;
      break;
    case eConnTrimChar:
      m_settings.trimChar = value != 0;
      break;
    case eConnTimeout:
      m_settings.timeoutSeconds = value;
      break;
    case eConnAutoCommit:
    case eConnBlockingMode:
    case eConnOSAuthentication:
    case eConnMultipleTransaction:
      break;  // accepted; each statement has its own transaction anyway
    default:
      return Fail(kNotSupported, "Unknown connection option " + std::to_string(option));
  }
  if (m_attachment) m_attachment->Reconfigure(m_settings);
  return kSQLSuccess;
}

SQLResult Connection::setOptionText(TConnectionOption option, const char* value) {
  std::string text = value ? value : "";
  switch (option) {
    case eConnRoleName:
      m_settings.roleName = text;
      break;
    case eConnServerCharSet:
      m_settings.charSet = text;
      break;
    case eConnHostName:
    case eConnServerPort:
    case eConnCustomString:
      break;  // the connect string names the server
    default:
      return Fail(kNotSupported, "Unknown connection option " + std::to_string(option));
  }
  return kSQLSuccess;
}

SQLResult Connection::getOption(TConnectionOption option, void* buffer, std::int32_t bufferSize,
                                std::int32_t* length) {
  SQLResult status;
  switch (option) {
    case eConnMaxActiveStatements:
      status = PutInteger(0, buffer, bufferSize, length);
      break;
    case eConnRoleName:
      status = PutText(m_settings.roleName, buffer, bufferSize, length);
      break;
    case eConnServerCharSet:
      status = PutText(m_settings.charSet, buffer, bufferSize, length);
      break;
    case eConnSqlDialect:
      status = PutInteger(m_settings.dialect, buffer, bufferSize, length);
      break;
    case eConnWaitOnLocks:
      status = PutInteger(m_settings.waitOnLocks, buffer, bufferSize, length);
      break;
    case eConnCommitRetain:
      status = PutInteger(m_settings.commitRetain, buffer, bufferSize, length);
      break;
    case eConnTxnIsoLevel:
      status = PutInteger(m_settings.isolation, buffer, bufferSize, length);
      break;
    case eConnTrimChar:
      status = PutInteger(m_settings.trimChar, buffer, bufferSize, length);
      break;
    case eConnTimeout:
      status = PutInteger(m_settings.timeoutSeconds, buffer, bufferSize, length);
      break;
    case eConnPageSize:
      status = PutInteger(m_attachment ? static_cast<std::int32_t>(m_attachment->PageSize()) : 0, buffer,
                          bufferSize, length);
      break;
    case eConnOdsVersion:
      status = PutInteger(m_attachment ? static_cast<std::int32_t>(m_attachment->OdsVersion()) : 0, buffer,
                          bufferSize, length);
      break;
    default:
      return Fail(kNotSupported, "Unknown connection option " + std::to_string(option));
  }
  if (status != kSQLSuccess) return Fail(status, "The buffer is too small for the option's value");
  return kSQLSuccess;
}

}  // namespace fbdriver
