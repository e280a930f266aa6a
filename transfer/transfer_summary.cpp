#include "transfer/transfer_summary.h"

#include <cstdio>

#include "db/layer_text.h"

namespace {

std::string JsonNullOr(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8CharacterLength(text, i);
    if (length > 1) {
      json.append(text.substr(i, length));
      i += length;
      continue;
    }
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c == '\r') {
      json += "\\r";
    } else if (c == '\t') {
      json += "\\t";
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
    } else {
      json += static_cast<char>(c);
    }
    ++i;
  }
  return json + "\"";
}

std::string SummaryLine(const TSummaryEntry& entry) {
  // In milliseconds, whatever decimal point the locale has.
  const long long milliseconds = entry.seconds > 0 ? static_cast<long long>(entry.seconds * 1000 + 0.5) : 0;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%lld.%03lld", milliseconds / 1000, milliseconds % 1000);
  const bool export_ = entry.direction == TTransferDirection::tdExport;
  return std::string("{\"table\":") + (entry.table ? JsonString(*entry.table) : "null") +
         ",\"file\":" + JsonString(entry.file) + ",\"direction\":" + (export_ ? "\"export\"" : "\"import\"") +
         ",\"rows\":" + std::to_string(entry.rows) + ",\"refused\":" + std::to_string(entry.refused) +
         ",\"stopped\":" + (entry.stopped ? "true" : "false") +
         ",\"dry_run\":" + (entry.dryRun ? "true" : "false") +
         ",\"resume_line\":" + (entry.resumeLine > 0 ? std::to_string(entry.resumeLine) : "null") +
         ",\"rejected_file\":" + JsonNullOr(entry.rejectedFile) + ",\"seconds\":" + seconds +
         ",\"exit_status\":" + std::to_string(entry.exitStatus) +
         ",\"sqlstate\":" + JsonNullOr(entry.sqlState) + "}";
}
