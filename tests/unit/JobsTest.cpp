#include <gtest/gtest.h>

#include "FakeEventLoop.h"
#include "FakeSignInWindows.h"
#include "jobs/BackendClient.h"
#include "jobs/JobRecord.h"
#include "jobs/NativeJobs.h"
#include "jobs/PageRenderer.h"
#include "signin/SignInController.h"
#include "signin/SignInData.h"

namespace brivok {
namespace {

using std::chrono::milliseconds;
using testing::FakePage;

// An HTTP client that records requests and answers when the test says so.
class FakeHttp : public HttpClient {
 public:
  void send(const Request& request, std::function<void(Reply)> done) override {
    all.push_back(request);
    sent.push_back({request, std::move(done)});
  }
  void reply(int status, const std::string& body, std::size_t index = 0) {
    auto done = std::move(sent.at(index).done);
    sent.erase(sent.begin() + static_cast<long>(index));
    done(Reply{status, body});
  }
  struct Sent {
    Request request;
    std::function<void(Reply)> done;
  };
  std::vector<Sent> sent;    // not yet answered
  std::vector<Request> all;  // everything sent, in order
};

TEST(BackendClient, RequestsAndTheRepliesThatCount) {
  auto http = std::make_shared<FakeHttp>();
  std::optional<std::string> base;
  BackendClient client(
      http, [&] { return base; }, "TOKEN0123");
  std::vector<std::optional<nlohmann::json>> got;
  const auto record = [&](std::optional<nlohmann::json> r) { got.push_back(std::move(r)); };

  // Before the backend is ready: nothing, before request() returns, and nothing sent.
  client.request("/api/native/next", std::nullopt, milliseconds(40000), record);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(got[0]);
  EXPECT_TRUE(http->sent.empty());

  base = "http://127.0.0.1:4100/ui/index.html?x=1";
  client.request("/api/native/next", std::nullopt, milliseconds(40000), record);
  ASSERT_EQ(http->sent.size(), 1u);
  const auto& get = http->sent[0].request;
  EXPECT_EQ(get.method, "GET");
  EXPECT_EQ(get.url, "http://127.0.0.1:4100/api/native/next");
  EXPECT_EQ(get.timeout, milliseconds(40000));
  EXPECT_EQ(get.headers, (decltype(get.headers){{"Authorization", "Bearer TOKEN0123"}}));
  EXPECT_FALSE(get.body);
  client.request("/api/native/done", nlohmann::json::object(), BackendClient::kDefaultTimeout,
                 nullptr);
  const auto& post = http->sent[1].request;
  EXPECT_EQ(post.method, "POST");
  EXPECT_EQ(post.body, "{}");
  EXPECT_EQ(post.timeout, milliseconds(30000));
  EXPECT_EQ(post.headers[1],
            (std::pair<std::string, std::string>{"Content-Type", "application/json"}));
  // A body that cannot be written as JSON still goes, empty.
  client.request("/x", nlohmann::json{{"t", "\xff"}}, BackendClient::kDefaultTimeout, nullptr);
  EXPECT_EQ(http->sent[2].request.body, "");

  const struct {
    int status;
    std::string body;
    std::optional<nlohmann::json> expected;
  } replies[] = {
      {200, "{}", nlohmann::json::object()},
      {200, R"({"job":{"job":"a"}})", nlohmann::json{{"job", {{"job", "a"}}}}},
      {200, "[1]", std::nullopt},
      {200, "", std::nullopt},
      {200, "not json", std::nullopt},
      {200, std::string(100000, '[') + std::string(100000, ']'), std::nullopt},
      {204, "{}", std::nullopt},
      {201, "{}", std::nullopt},
      {500, "{}", std::nullopt},
      {0, "", std::nullopt},
  };
  for (const auto& r : replies) {
    EXPECT_EQ(BackendClient::readReply({r.status, r.body}), r.expected) << r.status << r.body;
  }
  http->reply(200, "{}");
  EXPECT_EQ(got.back(), nlohmann::json::object());
  EXPECT_EQ(BackendClient::resolve("http://localhost:1", "/a?b"), "http://localhost:1/a?b");
  EXPECT_FALSE(BackendClient::resolve("http://localhost:1/", "//evil.example/"));
  EXPECT_FALSE(BackendClient::resolve("http://localhost:1/", "a b"));
}

TEST(JobRecord, ValidationOrderAndDefaults) {
  const struct {
    const char* record;
    const char* expected;  // "" dropped, else kind|key|cookies|user|pattern|domains
  } cases[] = {
      {R"({})", ""},
      {R"({"url":"https://a.example/","kind":"render"})", ""},
      {R"({"job":7,"url":"https://a.example/","kind":"render"})", ""},
      {R"({"job":"j","kind":"nonsense"})", ""},  // no URL: dropped before the kind is read
      {R"({"job":"j","url":"file:///etc/passwd","kind":"render"})", ""},
      {R"({"job":"j","url":"HTTPS://a.example/","kind":"render"})", ""},
      {R"({"job":"j","url":"data:text/html,x","kind":"render"})", ""},
      {R"({"job":"j","url":"not a url"})", ""},
      {R"({"job":"j","url":"https://a.example/"})", "-||0||login|"},
      {R"({"job":"j","url":"http://a.example/","kind":"render","key":5,"cookies":[{"name":"a","domain":"a"},{"name":"b"}]})",
       "render||1||login|"},
      {R"({"job":"j","url":"https://a/","kind":"render","key":"k","cookies":[{"name":"a"},3]})",
       "render|k|0||login|"},
      {R"({"job":"j","url":"https://a/","kind":"signin","username":"u","password":"p",
          "login_pattern":"sign","domains":["a","b"]})",
       "signin||0|u|sign|a,b"},
      {R"({"job":"j","url":"https://a/","kind":"signin","login_pattern":1,"domains":["a",2]})",
       "signin||0||login|"},
  };
  for (const auto& c : cases) {
    const auto job = parseJobRecord(nlohmann::json::parse(c.record));
    std::string got;
    if (job) {
      std::string domains;
      for (const auto& d : job->domains) domains += (domains.empty() ? "" : ",") + d;
      got = job->kind.value_or("-") + "|" + job->key + "|" + std::to_string(job->cookies.size()) +
            "|" + job->username + "|" + job->loginPattern + "|" + domains;
    }
    EXPECT_EQ(got, c.expected) << c.record;
  }
}

// The renderer against a scripted page: each case says what the page shows at a moment, and
// when the outcome comes and what it is.
TEST(PageRenderer, Timetable) {
  struct Case {
    const char* name;
    double loadEnds;                                        // seconds; < 0 never
    std::function<double(double t, bool scrolled)> length;  // < 0: the probe never answers
    bool extractionAnswers;
    double failsAt;  // < 0 never
    bool cancelled;
    double endsAt;
    bool delivers;
    int answerEvery = 1;  // length probes are answered every n-th 50 ms step only
    double stopsAt = -1;  // its web process goes away; < 0 never
  };
  const Case cases[] = {
      {"static page", 1.0, [](double, bool) { return 100; }, true, -1, false, 3.0, true},
      {"grows when scrolled to the bottom", 1.0, [](double, bool s) { return s ? 150 : 100; }, true,
       -1, false, 3.5, true},
      {"empty body", 1.0, [](double, bool) { return 0; }, true, -1, false, 30.0, true},
      {"never settles", 1.0, [](double t, bool) { return 100 + t * 10; }, true, -1, false, 40.0,
       true},
      {"never stops loading", -1, [](double, bool) { return 100; }, true, -1, false, 31.0, true},
      {"load fails", -1, [](double, bool) { return 0; }, true, 2.0, false, 2.0, false},
      {"a cancelled load is no failure", 1.0, [](double, bool) { return 100; }, true, 0.2, true,
       3.0, true},
      {"a script that never yields", 1.0, [](double, bool) { return -1; }, false, -1, false, 45.0,
       false},
      {"probes fail: length 0", 1.0, [](double, bool) { return -2; }, true, -1, false, 30.0, true},
      {"answers come late and unevenly", 1.0, [](double, bool) { return 100; }, true, -1, false,
       3.0, true, 4},
      {"its web process goes away", 1.0, [](double, bool) { return 100; }, true, -1, false, 2.0,
       false, 1, 2.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto loop = std::make_shared<testing::FakeEventLoop>();
    testing::FakeOffscreenPages pages;
    const auto start = loop->now();
    std::optional<std::optional<nlohmann::json>> outcome;
    std::string error;
    double endedAt = -1;
    int deliveries = 0;
    auto renderer = PageRenderer::create(
        pages, loop, "https://a.example/", "", {},
        [&](const std::optional<nlohmann::json>& page, const std::string& why) {
          ++deliveries;
          outcome = page;
          error = why;
          endedAt = std::chrono::duration<double>(loop->now() - start).count();
        });
    auto& page = *pages.offscreen.back().second;
    bool scrolled = false;
    int scrolls = 0;
    const auto seconds = [&] { return std::chrono::duration<double>(loop->now() - start).count(); };
    page.loadingNow = [&] {
      return !page.loads.empty() && (c.loadEnds < 0 || seconds() < c.loadEnds);
    };
    for (int step = 0; step < 1200 && !outcome; ++step) {
      const double t = seconds();
      if (c.failsAt >= 0 && t >= c.failsAt && t < c.failsAt + 0.05) page.fail(c.cancelled);
      if (c.stopsAt >= 0 && t >= c.stopsAt && t < c.stopsAt + 0.05) page.stop();
      scrolls += page.answer(std::nullopt, "scrollTo");
      scrolled = scrolls > 0;
      const double n = c.length(t, scrolled);
      if (n != -1 && step % c.answerEvery == 0)
        page.answer(n == -2 ? std::nullopt : std::optional<nlohmann::json>(n), "innerText.length");
      if (c.extractionAnswers) {
        page.answer(nlohmann::json(R"({"title":"T","url":"https://a.example/","text":"x"})"),
                    "JSON.stringify");
      }
      loop->advance(milliseconds(50));
    }
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->has_value(), c.delivers);
    EXPECT_EQ(error, c.delivers ? "" : c.stopsAt >= 0 ? kPageStoppedError : kPageNotLoadedError);
    EXPECT_NEAR(endedAt, c.endsAt, 0.06);
    EXPECT_LE(scrolls, 1);
    EXPECT_EQ(page.loads, std::vector<std::string>{"https://a.example/"});
    // Later events change nothing: one outcome only.
    page.fail(false);
    loop->advance(std::chrono::seconds(60));
    EXPECT_EQ(deliveries, 1);
    EXPECT_EQ(loop->pendingTimers(), 0u);
  }
}

struct QueueTest : ::testing::Test {
  std::shared_ptr<testing::FakeEventLoop> loop = std::make_shared<testing::FakeEventLoop>();
  std::shared_ptr<testing::FakeOffscreenPages> pages =
      std::make_shared<testing::FakeOffscreenPages>();
  // What reached the backend, in order; a poll keeps its answer until the test gives it.
  std::shared_ptr<FakeHttp> http = std::make_shared<FakeHttp>();
  std::shared_ptr<NativeJobs> jobs = NativeJobs::create(
      loop, pages,
      std::make_unique<BackendClient>(
          http, [] { return std::optional<std::string>("http://127.0.0.1:1/"); }, "T"),
      SignInController::jobRunner(pages, loop));

  struct Call {
    std::string path;
    std::optional<nlohmann::json> body;
    Duration timeout;
  };
  std::vector<Call> calls() const {
    std::vector<Call> out;
    for (const auto& r : http->all) {
      out.push_back({r.url.substr(r.url.find("/api/")),
                     r.body ? std::optional(nlohmann::json::parse(*r.body)) : std::nullopt,
                     r.timeout});
    }
    return out;
  }
  std::size_t polls() const {
    const auto all = calls();
    return std::count_if(all.begin(), all.end(),
                         [](const Call& c) { return c.path == "/api/native/next"; });
  }
  // Answers the outstanding poll.
  void answer(std::optional<nlohmann::json> reply) {
    for (std::size_t i = 0; i < http->sent.size(); ++i) {
      if (http->sent[i].request.url.ends_with("/api/native/next")) {
        http->reply(reply ? 200 : 0, reply ? reply->dump() : "", i);
        return;
      }
    }
    FAIL() << "no poll outstanding";
  }
  nlohmann::json render(const std::string& id) {
    return {{"job", id}, {"url", "https://a.example/"}, {"kind", "render"}};
  }
};

TEST_F(QueueTest, ThePollChainWaitsAsAgreed) {
  jobs->poll();
  ASSERT_EQ(polls(), 1u);
  EXPECT_EQ(calls()[0].timeout, NativeJobs::kPollTimeout);
  EXPECT_FALSE(calls()[0].body);
  // An answer, with or without a job, is followed by the next poll at once.
  for (const auto& reply :
       {nlohmann::json::object(), nlohmann::json{{"job", nullptr}}, nlohmann::json{{"job", "x"}}}) {
    answer(reply);
    loop->advance(Duration::zero());
    EXPECT_EQ(polls(), calls().size());
  }
  const auto before = polls();
  answer(std::nullopt);  // a failure waits 5 seconds
  loop->advance(milliseconds(4999));
  EXPECT_EQ(polls(), before);
  loop->advance(milliseconds(1));
  EXPECT_EQ(polls(), before + 1);
  // Four running jobs hold the chain; it looks again every second.
  for (int i = 0; i < 4; ++i) {
    answer(nlohmann::json{{"job", render("r" + std::to_string(i))}});
    loop->advance(Duration::zero());
  }
  EXPECT_EQ(jobs->jobs().size(), 4u);
  const auto held = polls();
  loop->advance(std::chrono::seconds(3));
  EXPECT_EQ(polls(), held);
  // One reports: its entry goes, the report is posted, and the next poll goes at once.
  pages->offscreen[0].second->fail(false);
  EXPECT_EQ(jobs->jobs().size(), 3u);
  EXPECT_EQ(calls()[calls().size() - 2].path, "/api/native/done");
  EXPECT_EQ((*calls()[calls().size() - 2].body)["job"], "r0");
  EXPECT_EQ(polls(), held + 1);
  loop->advance(std::chrono::seconds(5));
  EXPECT_EQ(polls(), held + 1);  // one outstanding, never two
}

TEST_F(QueueTest, JobsAreStartedReportedOrDropped) {
  jobs->start(nlohmann::json{{"job", "u"}, {"url", "https://a.example/"}, {"kind", "scan"}});
  jobs->start(nlohmann::json{{"job", "v"}, {"url", "https://a.example/"}});
  jobs->start(nlohmann::json{{"job", "w"}, {"url", "ftp://a.example/"}, {"kind", "render"}});
  ASSERT_EQ(calls().size(), 2u);
  EXPECT_EQ(calls()[0].body->dump(), R"({"error":"unknown job","job":"u","ok":false})");
  EXPECT_TRUE(jobs->jobs().empty());

  // A sign-in job: the controller's outcome is passed through unchanged.
  jobs->start(nlohmann::json{
      {"job", "s"}, {"url", "https://a.example/"}, {"kind", "signin"}, {"domains", {"a.example"}}});
  ASSERT_EQ(jobs->jobs().size(), 1u);
  loop->advance(std::chrono::seconds(92));
  EXPECT_TRUE(jobs->jobs().empty());
  EXPECT_EQ(calls().back().body->dump(),
            nlohmann::json({{"job", "s"},
                            {"ok", false},
                            {"result", nlohmann::json::object()},
                            {"error", SignInController::kTimeoutError}})
                .dump());

  // A second job with the identifier of a running one is refused at once, with a report of
  // its own; the first runs on and reports too.
  jobs->start(render("d"));
  const auto offscreen = pages->offscreen.size();
  jobs->start(render("d"));
  ASSERT_EQ(jobs->jobs().size(), 1u);
  EXPECT_EQ(pages->offscreen.size(), offscreen);
  EXPECT_EQ((*calls().back().body)["job"], "d");
  EXPECT_EQ((*calls().back().body)["ok"], false);
  const auto reports = calls().size();
  pages->offscreen.back().second->fail(false);
  EXPECT_EQ(calls().size(), reports + 1);
  EXPECT_EQ((*calls().back().body)["error"], NativeJobs::kRenderError);
  EXPECT_TRUE(jobs->jobs().empty());
}

}  // namespace
}  // namespace brivok
