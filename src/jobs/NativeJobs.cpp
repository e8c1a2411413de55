#include "jobs/NativeJobs.h"

#include "jobs/PageRenderer.h"

namespace brivok {

std::shared_ptr<NativeJobs> NativeJobs::create(std::shared_ptr<EventLoop> loop,
                                               std::shared_ptr<OffscreenPages> pages,
                                               std::unique_ptr<BackendClient> backend,
                                               SignInRunner signIn) {
  return std::shared_ptr<NativeJobs>(
      new NativeJobs(std::move(loop), std::move(pages), std::move(backend), std::move(signIn)));
}

void NativeJobs::pollLater(Duration delay) {
  std::weak_ptr<NativeJobs> weak = weak_from_this();
  next_ = Timer::after(loop_, delay, [weak] {
    if (auto self = weak.lock()) self->poll();
  });
}

void NativeJobs::poll() {
  waitingForSlot_ = jobs_.size() >= kMaxRunning;
  if (waitingForSlot_) {
    pollLater(kBusyWait);
    return;
  }
  std::weak_ptr<NativeJobs> weak = weak_from_this();
  backend_->request("/api/native/next", std::nullopt, kPollTimeout,
                    [weak](std::optional<nlohmann::json> reply) {
                      auto self = weak.lock();
                      if (!self) return;
                      if (reply) {
                        const auto job = reply->find("job");
                        if (job != reply->end() && job->is_object()) self->start(*job);
                      }
                      // From the handling of the reply: at once after an answer, later after
                      // a failure.
                      self->pollLater(reply ? Duration::zero() : kFailedWait);
                    });
}

void NativeJobs::report(const nlohmann::json& body) {
  backend_->request("/api/native/done", body, BackendClient::kDefaultTimeout, nullptr);
}

void NativeJobs::start(const nlohmann::json& record) {
  auto job = parseJobRecord(record);
  if (!job) return;
  // The running job keeps its identifier; the backend still hears of the second one.
  if (jobs_.count(job->id)) {
    report(jobReport(job->id, std::nullopt, kDuplicateError));
    return;
  }
  std::weak_ptr<NativeJobs> weak = weak_from_this();
  JobDone complete = [weak, id = job->id](const std::optional<nlohmann::json>& result,
                                          const std::string& error) {
    if (auto self = weak.lock()) self->completed(id, result, error);
  };
  if (job->kind == "render") {
    jobs_[job->id] =
        PageRenderer::create(*pages_, loop_, job->url, job->key, job->cookies, std::move(complete));
  } else if (job->kind == "signin" && signIn_) {
    jobs_[job->id] = signIn_(*job, std::move(complete));
  } else {
    report(unknownJobReport(job->id));
  }
}

void NativeJobs::completed(const std::string& id, const std::optional<nlohmann::json>& result,
                           const std::string& error) {
  jobs_.erase(id);  // releases the job's object
  report(jobReport(id, result, error));
  // A slot came free while the chain waited for one: ask for the next job now rather than at
  // the end of the wait. No poll is outstanding while the chain waits.
  if (waitingForSlot_) {
    next_.cancel();
    poll();
  }
}

}  // namespace brivok
