#include "backend/OutputProcessor.h"

#include <algorithm>

#include "core/Url.h"

namespace brivok {

OutputProcessor::OutputProcessor(std::string token) : token_(std::move(token)) {
  for (std::size_t t = 0; t < token_.size(); ++t) {
    const auto c = static_cast<unsigned char>(token_[t]);
    inToken_[c] = true;
    positions_[c].push_back(t);
    if (t + 1 < token_.size()) {
      pairs_[(c << 8) | static_cast<unsigned char>(token_[t + 1])] = true;
    }
  }
}

bool OutputProcessor::isBackendAddress(std::string_view address) {
  const auto url = Url::parse(address);
  return url && url->hasAuthority &&
         webScheme(url->scheme, SchemeCase::AnyCase) != WebScheme::None &&
         isLoopbackHost(url->host);
}

OutputProcessor::Result OutputProcessor::feed(std::string_view bytes) {
  Result result;
  const std::string_view text = decoder_.decode(bytes, decoded_);
  if (held_.empty()) {
    result.log = mask(text, false);
  } else {
    joined_.assign(held_);
    joined_.append(text);
    result.log = mask(joined_, false);
  }
  // The tail only serves to find the readiness line; once it is found, it is left alone.
  if (!readyFound_ && !text.empty()) appendToTail(text, result);
  return result;
}

OutputProcessor::Result OutputProcessor::silent() {
  Result result;
  findReadiness(true, result);
  return result;
}

OutputProcessor::Result OutputProcessor::finish() {
  Result result;
  std::string text;
  decoder_.finish(text);
  joined_.assign(held_);
  joined_.append(text);
  result.log = mask(joined_, true);
  if (!readyFound_) {
    if (!text.empty()) appendToTail(text, result);
    findReadiness(true, result);  // end of output: an unterminated last line is whole
  }
  return result;
}

// Length of the longest piece of the token that starts at text[i].
std::size_t OutputProcessor::tokenPieceAt(std::string_view text, std::size_t i) const {
  std::size_t best = 0;
  const std::size_t room = text.size() - i;
  for (const std::size_t t : positions_[static_cast<unsigned char>(text[i])]) {
    const std::size_t limit = std::min(room, token_.size() - t);
    std::size_t k = 1;
    while (k < limit && token_[t + k] == text[i + k]) ++k;
    best = std::max(best, k);
  }
  return best;
}

std::string_view OutputProcessor::mask(std::string_view text, bool final) {
  if (token_.empty()) {
    held_.clear();
    return text;
  }
  // A piece that starts close enough to the end to run into the next chunk is not yet
  // decided; everything before `limit` is.
  std::size_t limit = text.size();
  if (!final) {
    std::size_t runStart = text.size();
    while (runStart > 0 && inToken_[static_cast<unsigned char>(text[runStart - 1])]) --runStart;
    const std::size_t reach = text.size() > token_.size() ? text.size() - token_.size() : 0;
    limit = std::max(runStart, reach);
  }
  const std::size_t minPiece = std::min(kMinMaskedPiece, token_.size());
  const bool needPair = minPiece >= 2;
  bool copying = false;  // the first masked piece switches from the view to masked_
  std::size_t i = 0;
  std::size_t plainStart = 0;
  while (i < limit) {
    // A masked piece is a run of at least minPiece token characters. Looking back from the
    // last character such a run starting here would need, the first one that is not a token
    // character rules out every start up to it: the scan moves on past it at once.
    if (i + minPiece <= text.size()) {
      std::size_t j = i + minPiece;
      while (j > i && inToken_[static_cast<unsigned char>(text[j - 1])]) --j;
      if (j > i) {
        i = j;
        continue;
      }
    }
    // A masked piece is at least two characters long, so a position whose pair of bytes
    // never occurs in the token is settled by one lookup.
    if (!inToken_[static_cast<unsigned char>(text[i])] ||
        (needPair && (i + 1 >= text.size() || !pairs_[(static_cast<unsigned char>(text[i]) << 8) |
                                                      static_cast<unsigned char>(text[i + 1])]))) {
      ++i;
      continue;
    }
    const std::size_t piece = tokenPieceAt(text, i);
    if (piece >= minPiece) {
      if (!copying) {
        copying = true;
        masked_.clear();
      }
      masked_.append(text.substr(plainStart, i - plainStart));
      masked_.append(kTokenMask);
      i += piece;
      plainStart = i;
    } else {
      ++i;
    }
  }
  std::string_view out;
  if (copying) {
    masked_.append(text.substr(plainStart, i - plainStart));
    out = masked_;
  } else {
    out = text.substr(0, i);
  }
  // `text` may be held_ itself only through joined_, so this never overwrites its own source.
  held_.assign(text.substr(i));
  return out;
}

void OutputProcessor::appendToTail(std::string_view text, Result& result) {
  const std::size_t chars = codePointCount(text);
  tail_.append(text);
  tailChars_ += chars;
  findReadiness(false, result);
  if (tailChars_ > kTailLimit) {
    tail_.erase(0, offsetOfLastCodePoints(tail_, kTailKept));
    tailChars_ = kTailKept;
  }
}

void OutputProcessor::findReadiness(bool lastLineWhole, Result& result) {
  if (readyFound_) return;
  std::size_t start = 0;
  while (start <= tail_.size()) {
    std::size_t end = tail_.find('\n', start);
    if (end == std::string::npos) {
      // The unterminated last line: whole only at the end or after silence.
      if (!lastLineWhole) return;
      end = tail_.size();
    }
    std::string_view line(tail_.data() + start, end - start);
    if (line.substr(0, kReadyPrefix.size()) == kReadyPrefix) {
      std::string_view rest = line.substr(kReadyPrefix.size());
      const auto first = rest.find_first_not_of(" \t");
      rest = first == std::string_view::npos ? std::string_view{} : rest.substr(first);
      rest = rest.substr(0, rest.find_last_not_of(" \t") + 1);
      if (isBackendAddress(rest)) {
        readyFound_ = true;
        result.readyUrl = Url::parse(rest)->text;  // as browsers would request it
        return;
      }
    }
    start = end + 1;
  }
}

}  // namespace brivok
