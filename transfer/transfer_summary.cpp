#include "transfer/transfer_summary.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at `at` (no overlong forms,
// no surrogates); 0 when there is none.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length;
  std::uint32_t code;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + k) & 0x3F);
  }
  static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string JsonNullOr(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8Length(text, i);
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
