#include "gtk/WebSandbox.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <initializer_list>

extern char** environ;

namespace brivok {
namespace {

// Where Debian's web engine runs bubblewrap from, and what it asks of it for a web process.
constexpr const char* kBubblewrap = "/usr/bin/bwrap";

enum class State { NotStarted, Running, Available, Unavailable };
State state = State::NotStarted;
pid_t checker = -1;

void start() {
  if (state != State::NotStarted) return;
  // The engine runs unsandboxed when told so; the user then learns it all the same.
  if (std::getenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS") || access(kBubblewrap, X_OK) != 0) {
    state = State::Unavailable;
    return;
  }
  const char* argv[] = {kBubblewrap,
                        "--die-with-parent",
                        "--unshare-pid",
                        "--unshare-uts",
                        "--unshare-net",
                        "--unshare-ipc",
                        "--ro-bind",
                        "/",
                        "/",
                        "--dev",
                        "/dev",
                        "--proc",
                        "/proc",
                        "--",
                        "/bin/true",
                        nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const int failed = posix_spawn(&checker, kBubblewrap, &actions, nullptr,
                                 const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  state = failed ? State::Unavailable : State::Running;
}

}  // namespace

void startWebSandboxCheck() {
  start();
}

bool webSandboxAvailable() {
  start();
  if (state == State::Running) {
    // It takes a few milliseconds; one that hangs counts as no sandbox rather than holding
    // the start for good.
    int status = 0;
    pid_t waited = 0;
    for (int i = 0; i < 400 && waited == 0; ++i) {
      waited = waitpid(checker, &status, WNOHANG);
      if (waited < 0 && errno == EINTR) waited = 0;
      if (waited == 0) usleep(5000);
    }
    if (waited == 0) {
      kill(checker, SIGKILL);
      waitpid(checker, nullptr, 0);
    }
    const bool ran = waited == checker && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    state = ran ? State::Available : State::Unavailable;
  }
  return state == State::Available;
}

}  // namespace brivok
