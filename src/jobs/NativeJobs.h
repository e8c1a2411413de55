#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "core/EventLoop.h"
#include "core/Timer.h"
#include "jobs/BackendClient.h"
#include "jobs/Job.h"
#include "jobs/JobRecord.h"
#include "platform/OffscreenPages.h"

namespace brivok {

// The native job loop: one chain of polls asks the backend for work, each job (a render or an
// automatic sign-in) runs while its entry in the registry holds it, and every outcome is
// reported. At most four jobs run at once.
class NativeJobs : public std::enable_shared_from_this<NativeJobs> {
 public:
  // Starts a "signin" job: an automatic sign-in that reports through `done`.
  using SignInRunner = std::function<std::shared_ptr<Job>(const JobRecord&, JobDone done)>;

  static constexpr Duration kPollTimeout = std::chrono::seconds(40);
  static constexpr Duration kBusyWait = std::chrono::seconds(1);
  static constexpr Duration kFailedWait = std::chrono::seconds(5);
  static constexpr std::size_t kMaxRunning = 4;
  static constexpr const char* kRenderError = kPageNotLoadedError;
  static constexpr const char* kDuplicateError = "a job with this id is already running";

  static std::shared_ptr<NativeJobs> create(std::shared_ptr<EventLoop> loop,
                                            std::shared_ptr<OffscreenPages> pages,
                                            std::unique_ptr<BackendClient> backend,
                                            SignInRunner signIn);

  // Sends the next poll, or waits while four jobs run: until one ends, and looks again every
  // second.
  void poll();
  // Validates a job record and starts the job, or reports it as unknown or as a second job
  // under a running one's identifier, or drops it.
  void start(const nlohmann::json& record);

  // The running jobs by identifier: the only owner of each job's object.
  const std::map<std::string, std::shared_ptr<Job>>& jobs() const { return jobs_; }

 private:
  NativeJobs(std::shared_ptr<EventLoop> loop, std::shared_ptr<OffscreenPages> pages,
             std::unique_ptr<BackendClient> backend, SignInRunner signIn)
      : loop_(std::move(loop)),
        pages_(std::move(pages)),
        backend_(std::move(backend)),
        signIn_(std::move(signIn)) {}
  void pollLater(Duration delay);
  void report(const nlohmann::json& body);
  void completed(const std::string& id, const std::optional<nlohmann::json>& result,
                 const std::string& error);

  std::shared_ptr<EventLoop> loop_;
  std::shared_ptr<OffscreenPages> pages_;
  std::unique_ptr<BackendClient> backend_;
  SignInRunner signIn_;
  std::map<std::string, std::shared_ptr<Job>> jobs_;
  Timer next_;
  bool waitingForSlot_ = false;  // four jobs run and the chain waits for one to end
};

}  // namespace brivok
