// Any text split at its first character: as many pieces as delimiters, none
// holding the delimiter, and joined again they give the text after its first
// character.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "transfer/split_delimited.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Kept from one input to the next, as the import keeps it from line to line.
  static TDynamicArrayStr pieces;
  const std::string text(reinterpret_cast<const char*>(data), size);
  SplitDelimited(text, pieces);
  if (text.empty()) {
    if (!pieces.empty()) std::abort();
    return 0;
  }
  const char delimiter = text[0];
  if (pieces.size() != static_cast<std::size_t>(std::count(text.begin(), text.end(), delimiter)))
    std::abort();
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].find(delimiter) != std::string::npos) std::abort();
    if (i > 0) joined += delimiter;
    joined += pieces[i];
  }
  if (joined != text.substr(1)) std::abort();
  return 0;
}
