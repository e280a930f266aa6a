// The files an import keeps its refused lines in, beside the file it reads:
// "customer.csv" gives "customer.rejected.csv" (the header and each refused
// line exactly as it stood) and "customer.rejected.log" ("Line N: reason").
#pragma once

#include <cstdint>
#include <string>

#include "transfer/text_file.h"

class TRejectedFiles {
 public:
  // base: the path of the source without its extension.
  TRejectedFiles(std::string base, std::string header) : m_base(std::move(base)), m_header(std::move(header)) {}

  // Keeps a refused line; the files are made when the first one comes.
  // Throws EInOutError when they cannot be written.
  void Add(const std::string& record, std::int64_t lineNumber, const std::string& reason);
  bool Made() const { return m_made; }
  std::string CsvPath() const { return m_base + ".rejected.csv"; }
  // Throws EInOutError when the files cannot be closed.
  void Close();
  // Closes after a failure, swallowing what closing throws.
  void CloseQuietly() noexcept;

 private:
  std::string m_base;
  std::string m_header;
  TTextFile m_csv;
  TTextFile m_log;
  bool m_made = false;
};

// The rejected files' base for the import of folder/fileName: the path
// without its extension; for standard input the name as it stands, in the
// current folder.
std::string RejectedBase(const std::string& folder, const std::string& fileName, bool standardStream);
