#include "core/Utf8.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brivok {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool isContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Where the plain ASCII that starts at `from` ends: 64 bytes a step, as a log mostly is.
std::size_t asciiPrefix(std::string_view s, std::size_t from) {
  std::size_t i = from;
#if defined(__SSE2__)
  const char* p = s.data();
  while (i + 64 <= s.size()) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0) break;
    i += 64;
  }
#endif
  while (i + 8 <= s.size()) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if (word & 0x8080808080808080ull) break;
    i += 8;
  }
  return i;
}

}  // namespace

std::size_t validUtf8SequenceLength(std::string_view s, bool& incomplete) {
  incomplete = false;
  if (s.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return 1;
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < need; ++i) {
    if (i >= s.size()) {
      incomplete = true;
      return 0;
    }
    const auto b = static_cast<unsigned char>(s[i]);
    if (i == 1 ? (b < lo || b > hi) : !isContinuation(b)) return 0;
  }
  return need;
}

void Utf8StreamDecoder::feed(std::string_view bytes, std::string& out) {
  std::string joined;
  std::string_view in = bytes;
  if (!carry_.empty()) {
    joined = std::move(carry_);
    joined.append(bytes);
    carry_.clear();
    in = joined;
  }
  out.reserve(out.size() + in.size());
  std::size_t i = 0;
  std::size_t runStart = 0;
  while (i < in.size()) {
    i = asciiPrefix(in, i);  // the common case
    if (i >= in.size()) break;
    const auto c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    bool incomplete = false;
    const std::size_t n = validUtf8SequenceLength(in.substr(i), incomplete);
    if (n > 0) {
      i += n;
      continue;
    }
    out.append(in.substr(runStart, i - runStart));
    if (incomplete) {
      carry_.assign(in.substr(i));
      return;
    }
    out.append(kReplacement);
    ++i;
    runStart = i;
  }
  out.append(in.substr(runStart));
}

std::string_view Utf8StreamDecoder::decode(std::string_view bytes, std::string& scratch) {
  if (carry_.empty()) {
    std::size_t i = 0;
    for (;;) {
      i = asciiPrefix(bytes, i);
      if (i >= bytes.size()) return bytes;
      if (static_cast<unsigned char>(bytes[i]) < 0x80) {
        ++i;
        continue;
      }
      bool incomplete = false;
      const std::size_t n = validUtf8SequenceLength(bytes.substr(i), incomplete);
      if (n > 0) {
        i += n;
        continue;
      }
      if (!incomplete) break;  // a byte to replace: take the copying path
      carry_.assign(bytes.substr(i));
      return bytes.substr(0, i);
    }
  }
  scratch.clear();
  feed(bytes, scratch);
  return scratch;
}

void Utf8StreamDecoder::finish(std::string& out) {
  if (!carry_.empty()) {
    out.append(kReplacement);
    carry_.clear();
  }
}

std::size_t codePointCount(std::string_view text) {
  // Every byte except a continuation byte (10xxxxxx) starts a code point; count the
  // continuation bytes eight at a time.
  std::size_t continuations = 0;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    // One bit per continuation byte, at bit 7 of its byte: gather them into the top byte.
    const std::uint64_t marks = (word & ~(word << 1) & 0x8080808080808080ull) >> 7;
    continuations += static_cast<std::size_t>((marks * 0x0101010101010101ull) >> 56);
  }
  for (; i < text.size(); ++i) continuations += isContinuation(static_cast<unsigned char>(text[i]));
  return text.size() - continuations;
}

std::size_t offsetOfLastCodePoints(std::string_view text, std::size_t count) {
  if (count == 0) return text.size();
  std::size_t seen = 0;
  for (std::size_t i = text.size(); i > 0; --i) {
    if (!isContinuation(static_cast<unsigned char>(text[i - 1])) && ++seen == count) return i - 1;
  }
  return 0;
}

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    bool incomplete = false;
    const std::size_t n = validUtf8SequenceLength(s.substr(i), incomplete);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace brivok
