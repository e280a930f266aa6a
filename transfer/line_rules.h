// How the bytes of a text file make lines. The text file facility hands out
// each line raw, so that a refused record can be kept byte for byte; the CSV
// reader applies these rules to it.
//
// A line ends at a line feed; a carriage return right before it belongs to
// the line end, and any other carriage return is dropped. A Ctrl-Z at the
// start of a line ends the file; inside a line it ends the line's text, and
// the rest of that line is dropped.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace linerules {

inline constexpr char kCtrlZ = 26;

// The first line feed, carriage return or Ctrl-Z in [begin, end), or end:
// sixteen bytes at a time where SSE2 is there (every x86-64), otherwise three
// memchr passes, each bounded by the previous find.
inline const char* FindStop(const char* begin, const char* end) {
#if defined(__SSE2__)
  const __m128i lineFeed = _mm_set1_epi8('\n');
  const __m128i carriageReturn = _mm_set1_epi8('\r');
  const __m128i ctrlZ = _mm_set1_epi8(kCtrlZ);
  const char* p = begin;
  for (; end - p >= 16; p += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeed), _mm_cmpeq_epi8(bytes, carriageReturn)),
                     _mm_cmpeq_epi8(bytes, ctrlZ));
    if (int mask = _mm_movemask_epi8(hits)) return p + __builtin_ctz(static_cast<unsigned>(mask));
  }
  while (p != end && *p != '\n' && *p != '\r' && *p != kCtrlZ) ++p;
  return p;
#else
  if (const void* lf = std::memchr(begin, '\n', end - begin)) end = static_cast<const char*>(lf);
  if (const void* cr = std::memchr(begin, '\r', end - begin)) end = static_cast<const char*>(cr);
  if (const void* z = std::memchr(begin, kCtrlZ, end - begin)) end = static_cast<const char*>(z);
  return end;
#endif
}

// True when the byte at i of a raw line ends the line's text: a line feed, a
// Ctrl-Z, or a carriage return right before a line feed.
inline bool EndsText(std::string_view raw, std::size_t i) {
  const char c = raw[i];
  return c == '\n' || c == kCtrlZ || (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n');
}

// Appends the text of a raw line (its bytes as read, line end included).
inline void AppendText(std::string& out, std::string_view raw) {
  const char* p = raw.data();
  const char* end = p + raw.size();
  for (;;) {
    const char* stop = FindStop(p, end);
    out.append(p, stop);
    if (stop == end || *stop != '\r') return;
    p = stop + 1;  // a lone carriage return is dropped; one before a line feed ends the text next
  }
}

}  // namespace linerules
