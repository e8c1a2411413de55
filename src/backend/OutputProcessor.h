#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Utf8.h"

namespace brivok {

// Everything the shell does with the backend's standard output, minus the I/O:
// turns raw chunks into the text for the log (token masked), keeps the bounded tail
// and finds the readiness line. One instance per backend run; not thread-safe, it is
// driven by the one reader thread.
class OutputProcessor {
 public:
  static constexpr std::string_view kReadyPrefix = "BRIVOK_READY ";
  static constexpr std::string_view kTokenMask = "<token>";
  static constexpr std::size_t kTailLimit = 8000;  // more than this is trimmed...
  static constexpr std::size_t kTailKept = 2000;   // ...to the last this many characters
  // Any run of the token this long or longer is masked, so a token cut short or split
  // across reads never reaches the log in a recognisable piece.
  static constexpr std::size_t kMinMaskedPiece = 8;

  explicit OutputProcessor(std::string token);

  struct Result {
    // Text to append to the log now: a view of the chunk itself when nothing in it needed
    // changing, else of the processor's own buffer. Valid until the next call.
    std::string_view log;
    std::optional<std::string> readyUrl;  // set once, on the chunk that announced the address
  };

  // A readiness line counts here only once its line feed came: without one, its address
  // may go on in a later write.
  Result feed(std::string_view bytes);
  // The output has stayed silent for kSilence after an unterminated line: the line is whole.
  Result silent();
  // End of stream: flushes whatever was held back.
  Result finish();

  // Whether an unterminated line waits to be ended by its line feed or by silence.
  bool awaitingLineEnd() const { return !readyFound_ && !tail_.empty() && tail_.back() != '\n'; }
  static constexpr int kSilenceMs = 1000;

  const std::string& tail() const { return tail_; }
  bool ready() const { return readyFound_; }

  // True when `address` is one the main view may show as the backend's page: http or https
  // on 127.0.0.1 or localhost.
  static bool isBackendAddress(std::string_view address);

 private:
  std::string_view mask(std::string_view text, bool final);
  std::size_t tokenPieceAt(std::string_view text, std::size_t i) const;
  void appendToTail(std::string_view text, Result& result);
  void findReadiness(bool lastLineWhole, Result& result);

  std::string token_;
  std::array<bool, 256> inToken_{};
  std::array<std::vector<std::size_t>, 256> positions_;  // where each byte occurs in the token
  std::vector<unsigned char> pairs_ =
      std::vector<unsigned char>(65536);  // byte pairs that occur in the token
  Utf8StreamDecoder decoder_;
  std::string decoded_;  // decoded text, when the chunk could not be used as it came
  std::string joined_;   // held text and the next chunk
  std::string masked_;   // the log text, when something in it was masked
  std::string held_;     // decoded text not yet masked: it might continue as the token
  std::string tail_;
  std::size_t tailChars_ = 0;
  bool readyFound_ = false;
};

}  // namespace brivok
