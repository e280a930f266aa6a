#include "transfer/rejected_files.h"

#include <algorithm>

#include "transfer/check_entries.h"

void TRejectedFiles::Add(const std::string& record, std::int64_t lineNumber, const std::string& reason) {
  if (m_csv.Mode() == tfmClosed) {
    m_made = true;
    m_csv.AssignFile(m_base + ".rejected.csv");
    m_csv.Rewrite();
    IOCheck();
    m_log.AssignFile(m_base + ".rejected.log");
    m_log.Rewrite();
    IOCheck();
    m_csv.Write(m_header);
    if (!m_header.empty() && m_header.back() != '\n') m_csv.WriteLineEnd();
    IOCheck();
  }
  m_csv.Write(record);
  IOCheck();
  std::string text = reason;
  std::replace(text.begin(), text.end(), '\n', ' ');
  m_log.WriteLn("Line " + std::to_string(lineNumber) + ": " + text);
  IOCheck();
}

void TRejectedFiles::Close() {
  if (m_csv.Mode() == tfmClosed) return;
  m_csv.Close();
  IOCheck();
  m_log.Close();
  IOCheck();
}

void TRejectedFiles::CloseQuietly() noexcept {
  try {
    Close();
  } catch (const std::exception&) {
  }
}

std::string RejectedBase(const std::string& folder, const std::string& fileName, bool standardStream) {
  if (standardStream) return fileName;
  std::string name = fileName;
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return TransferPath(folder, name);
}
