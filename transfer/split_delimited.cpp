#include "transfer/split_delimited.h"

#include <algorithm>
#include <cstring>

void SplitDelimited(const std::string& text, TDynamicArrayStr& pieces) {
  if (text.empty()) {
    pieces.clear();
    return;
  }
  const char delimiter = text.front();
  const char* cursor = text.data() + 1;
  const char* const end = text.data() + text.size();
  // Counted first so that the array is sized once. The texts already in it
  // are overwritten in place, keeping their storage for the next line.
  pieces.resize(static_cast<std::size_t>(std::count(text.begin(), text.end(), delimiter)));
  for (std::string& piece : pieces) {
    const void* found = std::memchr(cursor, delimiter, static_cast<std::size_t>(end - cursor));
    const char* stop = found ? static_cast<const char*>(found) : end;
    piece.assign(cursor, stop);
    cursor = stop + (stop != end);
  }
}
