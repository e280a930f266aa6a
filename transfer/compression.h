// Compressed files: gzip (zlib) and zstd streams, packed on their way into a
// file and unpacked on their way out of one, a buffer at a time, so that no
// file is ever held whole in memory. The text file facility puts them between
// its buffer and the platform's descriptor.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class TCompression { cNone, cGzip, cZstd };

// The compression a file's name asks for: ".gz" gzip, ".zst" zstd (in any
// letter case), anything else none.
TCompression CompressionOfName(std::string_view fileName);
// What a name of that compression ends with: ".gz", ".zst", or "".
std::string_view CompressionSuffix(TCompression compression);
// The format's name for messages: "gzip", "zstd", or "".
std::string_view CompressionName(TCompression compression);

// Packs the bytes written into a stream of one compression.
class TPacker {
 public:
  // Null for TCompression::cNone.
  static std::unique_ptr<TPacker> Make(TCompression compression);
  virtual ~TPacker() = default;
  // Appends to packed what the input gives; last ends the stream (its
  // trailer included), after which nothing more may be packed. False, with
  // the library's words in problem, when the library fails.
  virtual bool Pack(std::string_view input, bool last, std::vector<char>& packed, std::string& problem) = 0;
};

// Unpacks a stream of one compression read from a source.
class TUnpacker {
 public:
  // Reads up to room bytes into `into`: their count, 0 at the end, and a
  // negative number for a failure the source has already reported.
  using TSource = std::function<std::ptrdiff_t(char* into, std::size_t room)>;
  // Null for TCompression::cNone.
  static std::unique_ptr<TUnpacker> Make(TCompression compression, TSource source);
  virtual ~TUnpacker() = default;
  // Up to room bytes of the unpacked data into `into`: their count (at
  // least 1), 0 at the end of the data, kSourceFailed when the source
  // failed, kDamaged when the packed bytes are not a whole, valid stream of
  // the compression (Problem() says why: damaged, cut short, not of it at
  // all). Several streams one after the other (`cat a.gz b.gz`) are read as
  // one. After a failure the unpacker gives nothing more.
  virtual std::ptrdiff_t Unpack(char* into, std::size_t room) = 0;
  const std::string& Problem() const { return m_problem; }

  static constexpr std::ptrdiff_t kSourceFailed = -1;
  static constexpr std::ptrdiff_t kDamaged = -2;

 protected:
  std::string m_problem;
};
