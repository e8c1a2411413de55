#include "backend/OutputProcessor.h"

#include <gtest/gtest.h>

#include <string>

namespace brivok {
namespace {

const std::string kToken = "0123456789ABCDEF0123456789ABCDEF";

struct Run {
  std::string log;
  std::optional<std::string> ready;
  int announcements = 0;
};

// Reads, each with whether the output then stays silent for a while; the end of the output
// comes after them.
Run feedAll(OutputProcessor& p, const std::vector<std::pair<std::string, bool>>& reads) {
  Run run;
  auto take = [&run](OutputProcessor::Result r) {
    run.log += r.log;
    if (r.readyUrl) {
      ++run.announcements;
      if (!run.ready) run.ready = r.readyUrl;
    }
  };
  for (const auto& [bytes, silence] : reads) {
    take(p.feed(bytes));
    if (silence) take(p.silent());
  }
  take(p.finish());
  return run;
}
Run feedAll(OutputProcessor& p, const std::vector<std::string>& chunks) {
  std::vector<std::pair<std::string, bool>> reads;
  for (const auto& c : chunks) reads.emplace_back(c, true);
  return feedAll(p, reads);
}

// What the output announces, read by read: only the first address the main view may show
// counts, and an unterminated line counts only after silence or at the end.
TEST(Readiness, AnnouncementsReadByRead) {
  const std::string x100(100, 'x');
  const struct {
    std::vector<std::pair<std::string, bool>> reads;
    std::optional<std::string> ready;
  } cases[] = {
      {{{"starting\nBRIVOK_RE", true}, {"ADY http://127.0.0.1:4100/\n", true}},
       "http://127.0.0.1:4100/"},
      {{{"BRIVOK_READY http://127.0.0.1:4100/", true}}, "http://127.0.0.1:4100/"},
      // A read that stopped inside the address must not announce a shortened one, even when
      // the pipe was empty after it: the rest may come in a later write.
      {{{x100 + "\nBRIVOK_READY http://127.0.0.1:4", false}, {"5123/\n", false}},
       "http://127.0.0.1:45123/"},
      {{{"BRIVOK_READY http://127.0.0.1:56", false}, {"50/\n", false}}, "http://127.0.0.1:5650/"},
      {{{"BRIVOK_READY http://127.0.0.1:7/", false}}, "http://127.0.0.1:7/"},  // then the end
      {{{"BRIVOK_READY not a url\nBRIVOK_READY http://127.0.0.1:1/\n", true},
        {"BRIVOK_READY http://127.0.0.1:2/\n", true}},
       "http://127.0.0.1:1/"},
      {{{"BRIVOK_READY \t http://localhost:9/ \t\n", true}}, "http://localhost:9/"},
      {{{"BRIVOK_READY HTTPS://127.0.0.1:8443/app\n", true}}, "HTTPS://127.0.0.1:8443/app"},
      {{{"\xFF\xFE", true}, {"\nBRIVOK_READY http://127.0.0.1:7/\n", true}}, "http://127.0.0.1:7/"},
  };
  for (const auto& c : cases) {
    OutputProcessor p(kToken);
    const auto run = feedAll(p, c.reads);
    EXPECT_EQ(run.ready, c.ready) << c.reads[0].first;
    EXPECT_EQ(run.announcements, 1) << c.reads[0].first;
  }
  for (const char* bad : {"BRIVOK_READY\n", "BRIVOK_READY \n", "BRIVOK_READY file:///etc/passwd\n",
                          "BRIVOK_READY javascript:alert(1)\n", "BRIVOK_READY http://\n",
                          "BRIVOK_READY 127.0.0.1:80\n", "BRIVOK_READY http://a b/\n",
                          "  BRIVOK_READY http://127.0.0.1:1/\n", "xBRIVOK_READY http://h/\n",
                          // Pages the main view may not show in place.
                          "BRIVOK_READY http://example.com/\n", "BRIVOK_READY http://127.0.0.2/\n",
                          "BRIVOK_READY ftp://127.0.0.1/\n", "BRIVOK_READY http://LOCALHOST:1/\n",
                          "BRIVOK_READY https://[::1]:8443/app\n"}) {
    OutputProcessor p(kToken);
    EXPECT_FALSE(p.feed(bad).readyUrl) << bad;
  }
}

TEST(Tail, TrimmedAfterTheScanCountingCharacters) {
  OutputProcessor p(kToken);
  std::string chunk = "BRIVOK_READY http://127.0.0.1:5/\n";
  chunk += std::string(9000 - chunk.size(), 'x');
  EXPECT_TRUE(p.feed(chunk).readyUrl);
  EXPECT_EQ(p.tail().size(), 2000u);
  OutputProcessor q(kToken);
  std::string euros;
  for (int i = 0; i < 8001; ++i) euros += "\xE2\x82\xAC";
  q.feed(euros);
  EXPECT_EQ(q.tail().size(), 2000u * 3);
  OutputProcessor r(kToken);  // the tail keeps the real text: only the log is masked
  r.feed("x" + kToken + "\n");
  EXPECT_EQ(r.tail(), "x" + kToken + "\n");
}

// The log text for streams cut into reads at every position, or as listed: the token and its
// long pieces are masked wherever the cuts fall, UTF-8 survives the cuts, invalid bytes become
// U+FFFD, and nothing held back is lost at the end.
TEST(LogText, MaskingAndDecodingAcrossReads) {
  const std::string piece8 = kToken.substr(10, 8), piece7 = kToken.substr(3, 7);
  const struct {
    std::string text;
    std::string log;
  } wholes[] = {
      {"before " + kToken + " after\n", "before <token> after\n"},
      {"a " + piece8 + " b " + piece7 + " c\n", "a <token> b " + piece7 + " c\n"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x82\xAC\n",
       "caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x82\xAC\n"},
      {"ends with 0123", "ends with 0123"},
      {"a\xFF"
       "b\xC0\xAF"
       "c\xED\xA0\x80"
       "d\xE2\x82",
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD\xEF\xBF\xBD"
       "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
       "d\xEF\xBF\xBD"},
  };
  for (const auto& w : wholes) {
    for (std::size_t cut = 0; cut <= w.text.size(); ++cut) {
      OutputProcessor p(kToken);
      EXPECT_EQ(feedAll(p, std::vector<std::string>{w.text.substr(0, cut), w.text.substr(cut)}).log,
                w.log)
          << "cut at " << cut << " of " << w.text;
    }
  }
}

}  // namespace
}  // namespace brivok
