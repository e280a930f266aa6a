#include "transfer/compression.h"

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cctype>
#include <climits>

namespace {

// Fast levels: an export is to take little longer packed than plain, and
// the data is text, which even these levels make several times smaller.
constexpr int kGzipLevel = 1;
constexpr int kZstdLevel = 1;
// Packed bytes read from the file per call of the source.
constexpr std::size_t kPackedInput = 128 * 1024;
// What an empty stream, or one cut short, is told with.
constexpr const char* kCutShort = "the file ends inside its compressed data (it is cut short)";

// Each compression's file name suffix and name.
struct TKind {
  TCompression compression;
  std::string_view suffix;
  std::string_view name;
};
constexpr TKind kKinds[] = {{TCompression::cGzip, ".gz", "gzip"}, {TCompression::cZstd, ".zst", "zstd"}};

TKind KindOf(TCompression compression) {
  for (const TKind& kind : kKinds) {
    if (kind.compression == compression) return kind;
  }
  return {TCompression::cNone, "", ""};
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

class TGzipPacker : public TPacker {
 public:
  TGzipPacker() {
    // 15 + 16: the largest window, with a gzip header and trailer.
    m_ready = deflateInit2(&m_stream, kGzipLevel, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~TGzipPacker() override {
    if (m_ready) deflateEnd(&m_stream);
  }

  bool Pack(std::string_view input, bool last, std::vector<char>& packed, std::string& problem) override {
    if (!m_ready) {
      problem = "zlib cannot start a gzip stream";
      return false;
    }
    m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    m_stream.avail_in = static_cast<uInt>(input.size());
    for (;;) {
      const std::size_t at = packed.size();
      const std::size_t room = std::max<std::size_t>(deflateBound(&m_stream, m_stream.avail_in), 4096);
      packed.resize(at + room);
      m_stream.next_out = reinterpret_cast<Bytef*>(packed.data() + at);
      m_stream.avail_out = static_cast<uInt>(room);
      const int result = deflate(&m_stream, last ? Z_FINISH : Z_NO_FLUSH);
      packed.resize(at + room - m_stream.avail_out);
      if (result == Z_STREAM_ERROR) {
        problem = m_stream.msg ? m_stream.msg : "zlib refused the data";
        return false;
      }
      if (last ? result == Z_STREAM_END : m_stream.avail_in == 0 && m_stream.avail_out != 0) return true;
    }
  }

 private:
  z_stream m_stream{};
  bool m_ready = false;
};

class TZstdPacker : public TPacker {
 public:
  TZstdPacker() : m_context(ZSTD_createCCtx()) {
    if (!m_context) return;
    ZSTD_CCtx_setParameter(m_context, ZSTD_c_compressionLevel, kZstdLevel);
    // A damaged file is then told from a good one.
    ZSTD_CCtx_setParameter(m_context, ZSTD_c_checksumFlag, 1);
    // Packed on a thread of the library's own, beside the thread that makes
    // the lines; a library built without threads packs on the caller's.
    ZSTD_CCtx_setParameter(m_context, ZSTD_c_nbWorkers, 1);
  }
  ~TZstdPacker() override { ZSTD_freeCCtx(m_context); }

  bool Pack(std::string_view input, bool last, std::vector<char>& packed, std::string& problem) override {
    if (!m_context) {
      problem = "libzstd cannot start a zstd stream";
      return false;
    }
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    for (;;) {
      const std::size_t at = packed.size();
      const std::size_t room = ZSTD_CStreamOutSize();
      packed.resize(at + room);
      ZSTD_outBuffer out{packed.data() + at, room, 0};
      const std::size_t left =
          ZSTD_compressStream2(m_context, &out, &in, last ? ZSTD_e_end : ZSTD_e_continue);
      packed.resize(at + out.pos);
      if (ZSTD_isError(left)) {
        problem = ZSTD_getErrorName(left);
        return false;
      }
      if (last ? left == 0 : in.pos == in.size) return true;
    }
  }

 private:
  ZSTD_CCtx* m_context;
};

// What both unpackers share: the packed bytes read ahead from the source.
class TBufferedUnpacker : public TUnpacker {
 protected:
  explicit TBufferedUnpacker(TSource source) : m_source(std::move(source)), m_input(kPackedInput) {}

  // Reads more packed bytes when every one read is used; false at the
  // source's end (m_ended) or when it failed (m_failed).
  bool Refill() {
    if (m_ended || m_failed) return false;
    const std::ptrdiff_t count = m_source(m_input.data(), m_input.size());
    if (count < 0) {
      m_failed = true;
      return false;
    }
    if (count == 0) {
      m_ended = true;
      return false;
    }
    m_begin = 0;
    m_end = static_cast<std::size_t>(count);
    return true;
  }
  std::ptrdiff_t Damaged(std::string problem) {
    m_problem = std::move(problem);
    m_failed = true;
    return kDamaged;
  }
  std::ptrdiff_t Failed() const { return m_problem.empty() ? kSourceFailed : kDamaged; }

  TSource m_source;
  std::vector<char> m_input;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
  bool m_ended = false;
  bool m_failed = false;
};

class TGzipUnpacker : public TBufferedUnpacker {
 public:
  explicit TGzipUnpacker(TSource source) : TBufferedUnpacker(std::move(source)) {
    m_ready = inflateInit2(&m_stream, 15 + 16) == Z_OK;
  }
  ~TGzipUnpacker() override {
    if (m_ready) inflateEnd(&m_stream);
  }

  std::ptrdiff_t Unpack(char* into, std::size_t room) override {
    if (m_failed) return Failed();
    if (!m_ready) return Damaged("zlib cannot start reading a gzip stream");
    room = std::min<std::size_t>(room, UINT_MAX);
    for (;;) {
      if (m_begin == m_end && !Refill()) {
        if (m_failed) return Failed();
        // Every byte is read: the data ends well only at the end of a stream.
        if (m_streamEnded) return 0;
        return Damaged(kCutShort);
      }
      // Bytes after a stream's end are another stream.
      if (m_streamEnded) {
        inflateReset(&m_stream);
        m_streamEnded = false;
      }
      m_stream.next_in = reinterpret_cast<Bytef*>(m_input.data() + m_begin);
      m_stream.avail_in = static_cast<uInt>(m_end - m_begin);
      m_stream.next_out = reinterpret_cast<Bytef*>(into);
      m_stream.avail_out = static_cast<uInt>(room);
      const int result = inflate(&m_stream, Z_NO_FLUSH);
      m_begin = m_end - m_stream.avail_in;
      const std::size_t produced = room - m_stream.avail_out;
      if (result == Z_STREAM_END) {
        m_streamEnded = true;
      } else if (result != Z_OK && result != Z_BUF_ERROR) {
        return Damaged(std::string("it is no gzip data, or damaged gzip data (") +
                       (m_stream.msg ? m_stream.msg : "zlib error " + std::to_string(result)) + ")");
      }
      if (produced > 0) return static_cast<std::ptrdiff_t>(produced);
    }
  }

 private:
  z_stream m_stream{};
  bool m_ready = false;
  bool m_streamEnded = false;
};

class TZstdUnpacker : public TBufferedUnpacker {
 public:
  explicit TZstdUnpacker(TSource source)
      : TBufferedUnpacker(std::move(source)), m_context(ZSTD_createDCtx()) {}
  ~TZstdUnpacker() override { ZSTD_freeDCtx(m_context); }

  std::ptrdiff_t Unpack(char* into, std::size_t room) override {
    if (m_failed) return Failed();
    if (!m_context) return Damaged("libzstd cannot start reading a zstd stream");
    for (;;) {
      const bool more = m_begin < m_end || Refill();
      if (!more && m_failed) return Failed();
      // At the end of the file the library may still hold unpacked bytes.
      if (!more && m_frameEnded) return 0;
      ZSTD_inBuffer in{m_input.data() + m_begin, m_end - m_begin, 0};
      ZSTD_outBuffer out{into, room, 0};
      const std::size_t hint = ZSTD_decompressStream(m_context, &out, &in);
      m_begin += in.pos;
      if (ZSTD_isError(hint)) {
        return Damaged(std::string("it is no zstd data, or damaged zstd data (") + ZSTD_getErrorName(hint) +
                       ")");
      }
      // 0: a frame ended and everything of it was given out.
      m_frameEnded = hint == 0;
      if (out.pos > 0) return static_cast<std::ptrdiff_t>(out.pos);
      if (!more) return m_frameEnded ? 0 : Damaged(kCutShort);
    }
  }

 private:
  ZSTD_DCtx* m_context;
  bool m_frameEnded = false;
};

}  // namespace

TCompression CompressionOfName(std::string_view fileName) {
  for (const TKind& kind : kKinds) {
    if (EndsWithNoCase(fileName, kind.suffix)) return kind.compression;
  }
  return TCompression::cNone;
}

std::string_view CompressionSuffix(TCompression compression) { return KindOf(compression).suffix; }

std::string_view CompressionName(TCompression compression) { return KindOf(compression).name; }

std::unique_ptr<TPacker> TPacker::Make(TCompression compression) {
  switch (compression) {
    case TCompression::cGzip:
      return std::make_unique<TGzipPacker>();
    case TCompression::cZstd:
      return std::make_unique<TZstdPacker>();
    case TCompression::cNone:
      break;
  }
  return nullptr;
}

std::unique_ptr<TUnpacker> TUnpacker::Make(TCompression compression, TSource source) {
  switch (compression) {
    case TCompression::cGzip:
      return std::make_unique<TGzipUnpacker>(std::move(source));
    case TCompression::cZstd:
      return std::make_unique<TZstdUnpacker>(std::move(source));
    case TCompression::cNone:
      break;
  }
  return nullptr;
}
