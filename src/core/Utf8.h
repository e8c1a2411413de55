#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brivok {

// Turns a byte stream that arrives in arbitrary pieces into valid UTF-8 text.
// A sequence split across two pieces is carried into the next one; bytes that can
// never be part of valid UTF-8 become U+FFFD, so no text is ever thrown away.
class Utf8StreamDecoder {
 public:
  // Appends the decodable text of `bytes` (with any carried prefix) to `out`.
  void feed(std::string_view bytes, std::string& out);
  // The decodable text of `bytes`: a view of `bytes` itself when nothing needs changing (the
  // common case, no copy), else of `scratch`. Valid until either is changed.
  std::string_view decode(std::string_view bytes, std::string& scratch);
  // End of stream: a dangling partial sequence becomes U+FFFD.
  void finish(std::string& out);

 private:
  std::string carry_;
};

// Length of the longest valid UTF-8 sequence at the start of `s`, or 0 if `s` does not start
// with one. Sets `incomplete` when `s` ends inside what could still become a valid sequence.
std::size_t validUtf8SequenceLength(std::string_view s, bool& incomplete);

// Number of code points in valid UTF-8 text.
std::size_t codePointCount(std::string_view text);
// Byte offset at which the last `count` code points of valid UTF-8 text start.
std::size_t offsetOfLastCodePoints(std::string_view text, std::size_t count);

bool isValidUtf8(std::string_view s);

}  // namespace brivok
