// How the bytes of a text file make lines. The text file facility hands out
// each line raw, so that a refused record can be kept byte for byte; the CSV
// reader applies these rules to it.
//
// A line ends at a line feed; a carriage return right before it belongs to
// the line end, and any other carriage return is dropped. Every other byte is
// the line's text, a Ctrl-Z included (only as the file's very last byte is it
// the old end-of-file mark, which the text file facility leaves out).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace linerules {

// The old end-of-file mark of text files.
inline constexpr char kCtrlZ = 26;

// True when the byte at i of a raw line ends the line's text: a line feed,
// or a carriage return right before a line feed.
inline bool EndsText(std::string_view raw, std::size_t i) {
  const char c = raw[i];
  return c == '\n' || (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n');
}

// Appends the text of a raw line (its bytes as read, line end included).
inline void AppendText(std::string& out, std::string_view raw) {
  if (!raw.empty() && raw.back() == '\n') raw.remove_suffix(1);
  for (;;) {
    const void* cr = std::memchr(raw.data(), '\r', raw.size());
    if (!cr) {
      out.append(raw);
      return;
    }
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(cr) - raw.data());
    out.append(raw.data(), at);
    raw.remove_prefix(at + 1);
  }
}

// True when the raw line has no text: carriage returns and a line feed at most.
inline bool IsBlank(std::string_view raw) { return raw.find_first_not_of("\r\n") == std::string_view::npos; }

}  // namespace linerules
