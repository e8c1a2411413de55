// The backend's standard output: readiness, token masking and UTF-8 across read boundaries.
// The first bytes of the input choose where the stream is cut into reads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "backend/OutputProcessor.h"
#include "core/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string kToken = "5F3A9C0B7E21D4486B90AC3F1E7D2B55";
  if (size < 4) return 0;
  const std::size_t cuts = data[0] % 8;
  const std::uint8_t* sizes = data + 1;
  std::string_view stream(reinterpret_cast<const char*>(data + 4), size - 4);
  brivok::OutputProcessor processor(kToken);
  std::string log;
  int announced = 0;
  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    const std::size_t chunk = i < cuts ? 1 + sizes[i % 3] : stream.size() - at;
    const auto piece = stream.substr(at, chunk);
    at += piece.size();
    auto result = processor.feed(piece);
    log.append(result.log);
    // Some reads are followed by a silence.
    if (!result.readyUrl && (sizes[i % 3] & 1) != 0) result.readyUrl = processor.silent().readyUrl;
    if (result.readyUrl) {
      ++announced;
      if (!brivok::OutputProcessor::isBackendAddress(*result.readyUrl)) __builtin_trap();
    }
  }
  const auto last = processor.finish();
  log.append(last.log);
  if (last.readyUrl) ++announced;
  if (announced > 1) __builtin_trap();
  if (!brivok::isValidUtf8(log)) __builtin_trap();
  // No piece of the token of eight characters or more ever reaches the log.
  for (std::size_t i = 0; i + brivok::OutputProcessor::kMinMaskedPiece <= kToken.size(); ++i) {
    if (log.find(kToken.substr(i, brivok::OutputProcessor::kMinMaskedPiece)) != std::string::npos) {
      __builtin_trap();
    }
  }
  return 0;
}
