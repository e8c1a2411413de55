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

Run feedAll(OutputProcessor& p, const std::vector<std::string>& chunks, bool finish = true) {
  Run run;
  auto take = [&run](OutputProcessor::Result r) {
    run.log += r.log;
    if (r.readyUrl) {
      ++run.announcements;
      if (!run.ready) run.ready = r.readyUrl;
    }
  };
  for (const auto& c : chunks) take(p.feed(c));
  if (finish) take(p.finish());
  return run;
}

TEST(Readiness, LineSplitAcrossReadsIsFoundOnTheSecond) {
  OutputProcessor p(kToken);
  EXPECT_FALSE(p.feed("starting\nBRIVOK_RE").readyUrl);
  auto r = p.feed("ADY http://127.0.0.1:4100/\n");
  ASSERT_TRUE(r.readyUrl);
  EXPECT_EQ(*r.readyUrl, "http://127.0.0.1:4100/");
}

TEST(Readiness, UnterminatedLineCountsBeforeItsLineFeed) {
  OutputProcessor p(kToken);
  auto r = p.feed("BRIVOK_READY http://127.0.0.1:4100/");
  ASSERT_TRUE(r.readyUrl);
  EXPECT_EQ(*r.readyUrl, "http://127.0.0.1:4100/");
}

TEST(Readiness, AnUnterminatedLineWaitsWhileMoreOutputIsComing) {
  // A read that stopped inside the address must not announce a shortened one.
  OutputProcessor p(kToken);
  EXPECT_FALSE(p.feed(std::string(100, 'x') + "\nBRIVOK_READY http://127.0.0.1:4", false).readyUrl);
  EXPECT_EQ(p.feed("5123/\n", false).readyUrl, "http://127.0.0.1:45123/");
  // At the end of the output a waiting line is whole.
  OutputProcessor q(kToken);
  EXPECT_FALSE(q.feed("BRIVOK_READY http://127.0.0.1:7/", false).readyUrl);
  EXPECT_EQ(q.finish().readyUrl, "http://127.0.0.1:7/");
}

TEST(Readiness, OnlyTheFirstValidAnnouncementCounts) {
  OutputProcessor p(kToken);
  auto run = feedAll(p, {"BRIVOK_READY not a url\n", "BRIVOK_READY http://127.0.0.1:1/\n",
                         "BRIVOK_READY http://127.0.0.1:2/\n"});
  EXPECT_EQ(run.announcements, 1);
  EXPECT_EQ(run.ready, "http://127.0.0.1:1/");
}

TEST(Readiness, SpacesAndTabsAroundTheAddressAreTrimmed) {
  OutputProcessor p(kToken);
  auto r = p.feed("BRIVOK_READY \t http://localhost:9/ \t\n");
  EXPECT_EQ(r.readyUrl, "http://localhost:9/");
}

TEST(Readiness, AddressesThatCannotServeThePageAreIgnored) {
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
  EXPECT_TRUE(OutputProcessor::isBackendAddress("HTTP://127.0.0.1:1/"));
  EXPECT_TRUE(OutputProcessor::isBackendAddress("https://localhost:8443/app"));
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
      EXPECT_EQ(feedAll(p, {w.text.substr(0, cut), w.text.substr(cut)}).log, w.log)
          << "cut at " << cut << " of " << w.text;
    }
  }
  // One byte at a time, and many tokens in reads of seven bytes.
  OutputProcessor single(kToken);
  std::vector<std::string> bytes;
  for (char c : "x" + kToken + "y") bytes.emplace_back(1, c);
  EXPECT_EQ(feedAll(single, bytes).log, "x<token>y");
  std::string input, expected;
  for (int i = 0; i < 50; ++i) {
    input += kToken + "|" + std::to_string(i) + "\n";
    expected += "<token>|" + std::to_string(i) + "\n";
  }
  std::vector<std::string> chunks;
  for (std::size_t i = 0; i < input.size(); i += 7) chunks.push_back(input.substr(i, 7));
  OutputProcessor many(kToken);
  EXPECT_EQ(feedAll(many, chunks).log, expected);
  // The tail keeps the real text, and a readiness line after garbage still counts.
  EXPECT_NE(many.tail().find(kToken), std::string::npos);
  OutputProcessor garbage(kToken);
  garbage.feed("\xFF\xFE");
  EXPECT_TRUE(garbage.feed("\nBRIVOK_READY http://127.0.0.1:7/\n").readyUrl);
}

}  // namespace
}  // namespace brivok
