#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "Spin.h"
#include "TempDir.h"
#include "backend/Backend.h"
#include "backend/Descendants.h"
#include "gtk/GlibEventLoop.h"

namespace brivok {
namespace {

using testing::readFile;
using testing::spin;
using testing::TempDir;
using testing::writeFile;

// Alive means running: a killed process may linger as a zombie until its parent collects it.
char processState(pid_t pid) {
  const auto stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}
bool processExists(pid_t pid) {
  const char state = processState(pid);
  return state != 0 && state != 'Z' && state != 'X';
}
bool groupExists(pid_t group) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const auto name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    if (getpgid(pid) == group && processExists(pid)) return true;
  }
  return false;
}

// A resources folder whose "interpreter" is the given shell script.
struct FakeBackend : ::testing::Test {
  TempDir dir;
  std::shared_ptr<GlibEventLoop> loop = std::make_shared<GlibEventLoop>();
  std::shared_ptr<Backend> backend;
  std::optional<std::string> readyUrl;
  std::vector<std::string> exits;

  std::string res() const { return dir / "res"; }
  std::string home() const { return dir / "home"; }
  std::string log() const { return dir / "state/brivok/backend.log"; }
  std::string out(const std::string& name) const { return dir / ("out/" + name); }

  void script(const std::string& body) {
    const auto path = res() + "/python/bin/python3";
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
  }

  void start(std::map<std::string, std::string> env = {}) {
    std::filesystem::create_directories(home());
    std::filesystem::create_directories(dir / "out");
    env["OUT"] = dir / "out";
    env["PATH"] = "/usr/bin:/bin";
    backend = Backend::create(loop, {res(), home(), log(), env});
    backend->onReady = [this](const std::string& url) { readyUrl = url; };
    backend->onExit = [this](const std::string& message) { exits.push_back(message); };
    backend->start();
  }

  // The pid a script wrote to out/<name>, once its whole line is there; 0 if it never came.
  pid_t writtenPid(const std::string& name) {
    std::string text;
    spin([&] {
      text = readFile(out(name));
      return !text.empty() && text.back() == '\n';
    });
    return text.empty() ? 0 : static_cast<pid_t>(std::atoi(text.c_str()));
  }

  void TearDown() override {
    if (backend) {
      const pid_t pid = backend->pid();
      backend->stop();
      if (pid > 0) {
        EXPECT_FALSE(groupExists(pid));
      }
    }
  }
};

TEST_F(FakeBackend, LaunchesWithTheAgreedCommandLineEnvironmentAndStreams) {
  script(
      "printf '%s\\n' \"$0\" \"$@\" > \"$OUT/args\"\n"
      "env > \"$OUT/env\"\n"
      "pwd > \"$OUT/cwd\"\n"
      "echo BRIVOK_READY http://127.0.0.1:4100/\n"
      "exec sleep 30");
  // A descriptor the shell forgot to mark close-on-exec must still not reach the backend.
  const int leaked = open("/dev/null", O_RDONLY);
  start({{"PYTHONPATH", "/should/be/replaced"}, {"KEEP_ME", "yes"}});
  close(leaked);
  ASSERT_TRUE(spin([&] { return readyUrl.has_value(); }));
  EXPECT_EQ(*readyUrl, "http://127.0.0.1:4100/");
  EXPECT_EQ(backend->url(), "http://127.0.0.1:4100/");

  EXPECT_EQ(readFile(out("args")),
            res() + "/python/bin/python3\n-m\nbrivok_cli.main\ndesktop\n--port\n0\n");
  const auto env = readFile(out("env"));
  EXPECT_NE(env.find("PYTHONPATH=" + res() + "/app:" + res() + "/site-packages\n"),
            std::string::npos);
  EXPECT_NE(env.find("KEEP_ME=yes\n"), std::string::npos);
  EXPECT_NE(env.find("BRIVOK_DESKTOP_TOKEN=" + backend->token() + "\n"), std::string::npos);
  EXPECT_NE(env.find("BRIVOK_PARENT_PID=" + std::to_string(getpid()) + "\n"), std::string::npos);
  EXPECT_EQ(readFile(out("cwd")), home() + "\n");

  const pid_t pid = backend->pid();
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(spin([&] {
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe").filename() ==
           "sleep";
  }));
  EXPECT_EQ(getpgid(pid), pid);
  // Right after the exec the loader may still hold a library open, so wait for the descriptors
  // to settle; a leaked one never goes away.
  std::set<std::string> fds;
  spin(
      [&] {
        fds.clear();
        std::error_code error;
        for (const auto& e :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
          fds.insert(e.path().filename().string());
        return fds == std::set<std::string>{"0", "1", "2"};
      },
      2);
  EXPECT_EQ(fds, (std::set<std::string>{"0", "1", "2"}));
  const auto fdTarget = [pid](int fd) {
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" +
                                         std::to_string(fd))
        .string();
  };
  EXPECT_EQ(fdTarget(0), "/dev/null");
  EXPECT_EQ(fdTarget(1).rfind("pipe:", 0), 0u);
  EXPECT_EQ(fdTarget(2), log());
}

TEST_F(FakeBackend, LogIsEmptiedPrivateAndNeverHoldsTheToken) {
  writeFile(log(), "a secret from the last run\n");
  chmod(log().c_str(), 0644);
  const mode_t old = umask(0);
  script(
      "echo \"to stderr\" >&2\n"
      "echo \"token=$BRIVOK_DESKTOP_TOKEN\"\n"
      "printf 'split=%.10s' \"$BRIVOK_DESKTOP_TOKEN\"; sleep 0.2; printf '%s\\n' "
      "\"${BRIVOK_DESKTOP_TOKEN#??????????}\"\n"
      "exit 0");
  start();
  umask(old);
  ASSERT_TRUE(spin([&] { return !exits.empty(); }));
  ASSERT_TRUE(spin([&] {
    return readFile(log()).find("split=") != std::string::npos && readFile(log()).back() == '\n';
  }));
  const auto text = readFile(log());
  EXPECT_EQ(text.find("a secret"), std::string::npos);
  EXPECT_NE(text.find("to stderr\n"), std::string::npos);
  EXPECT_NE(text.find("token=<token>\n"), std::string::npos);
  EXPECT_NE(text.find("split=<token>\n"), std::string::npos);
  EXPECT_EQ(text.find(backend->token().substr(0, 8)), std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat(log().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(FakeBackend, ExitCodeAndSignalAreDescribed) {
  script("exit 3");
  start();
  ASSERT_TRUE(spin([&] { return !exits.empty(); }));
  EXPECT_EQ(exits[0], "The Brivok backend stopped (exit 3). See " + log() + ".");
  EXPECT_EQ(backend->pid(), 0);
  EXPECT_FALSE(readyUrl);

  exits.clear();
  script("echo BRIVOK_READY http://127.0.0.1:1/\nexec sleep 30");
  start();
  ASSERT_TRUE(spin([&] { return readyUrl.has_value(); }));
  kill(backend->pid(), SIGKILL);
  ASSERT_TRUE(spin([&] { return !exits.empty(); }));
  EXPECT_EQ(exits[0], "The Brivok backend stopped (signal 9). See " + log() + ".");
  EXPECT_EQ(exits.size(), 1u);
}

TEST_F(FakeBackend, StopEndsTheWholeGroupAndReportsNothing) {
  // Both ignore SIGTERM: the grace period ends them. The grandchild holds standard output open.
  script(
      "trap '' TERM\n"
      "sh -c 'echo $$ > \"$OUT/grandchild\"; exec sleep 30' &\n"
      "echo BRIVOK_READY http://127.0.0.1:1/\nwhile :; do sleep 1; done");
  start();
  const pid_t grandchild = writtenPid("grandchild");
  ASSERT_GT(grandchild, 0);
  ASSERT_TRUE(spin([&] { return readyUrl.has_value(); }));
  const pid_t pid = backend->pid();
  backend->stop();
  EXPECT_FALSE(processExists(pid));
  // SIGKILL is on its way to the rest of the group; on a busy machine the kernel may take a
  // moment to deliver it.
  for (int i = 0; i < 200 && (groupExists(pid) || processExists(grandchild)); ++i) usleep(5000);
  EXPECT_FALSE(groupExists(pid));
  EXPECT_FALSE(processExists(grandchild));
  testing::pause(0.1);
  EXPECT_TRUE(exits.empty());
  backend->stop();  // a second stop does nothing
}

TEST_F(FakeBackend, StopEndsDescendantsThatLeftTheGroupAndTheSession) {
  // A daemon that left the backend's session and was orphaned: it comes back to the shell.
  script(
      "(setsid sh -c 'trap \"\" TERM; echo $$ > \"$OUT/escaped\"; exec sleep 30' &)\n"
      "echo BRIVOK_READY http://127.0.0.1:1/\nexec sleep 30");
  start();
  const pid_t escaped = writtenPid("escaped");
  ASSERT_GT(escaped, 0);
  ASSERT_TRUE(processExists(escaped));
  EXPECT_NE(getpgid(escaped), backend->pid());
  backend->stop();
  EXPECT_FALSE(processExists(escaped));

  // One caught in the middle of an exec shows no environment for a moment; it must not slip
  // through. This one spends much of its life in exec: each round has a fair chance of it.
  const auto again = dir / "again";
  writeFile(again, "#!/bin/sh\nexec \"$0\"\n");
  chmod(again.c_str(), 0755);
  for (int round = 0; round < 30; ++round) {
    const pid_t daemon = fork();
    if (daemon == 0) {
      setsid();
      setenv("BRIVOK_DESKTOP_TOKEN", "t0ken", 1);
      execl(again.c_str(), again.c_str(), nullptr);
      _exit(127);
    }
    // Until its first exec it shows the test's own environment.
    const auto environ = "/proc/" + std::to_string(daemon) + "/environ";
    for (int wait = 0; wait < 20000 && readFile(environ).find("t0ken") == std::string::npos;
         ++wait) {
      usleep(100);
    }
    usleep(round * 397 % 3000);  // meet it at another point of its cycle each round
    killDescendants("t0ken");
    EXPECT_FALSE(processExists(daemon)) << "round " << round;
    kill(daemon, SIGKILL);
    waitpid(daemon, nullptr, 0);
  }
}

TEST_F(FakeBackend, AKilledShellTakesTheBackendAlong) {
  // A backend that never looks at BRIVOK_PARENT_PID still ends with a shell killed outright.
  script("echo $$ > \"$OUT/backend\"\nexec sleep 30");
  std::filesystem::create_directories(dir / "out");
  std::filesystem::create_directories(home());
  const pid_t shell = fork();
  if (shell == 0) {
    auto own = std::make_shared<GlibEventLoop>();
    auto b = Backend::create(own, {res(), home(), log(), {{{"OUT", dir / "out"}}}});
    b->start();
    pause();
    _exit(0);
  }
  const pid_t child = writtenPid("backend");
  ASSERT_GT(child, 0);
  ASSERT_TRUE(processExists(child));
  kill(shell, SIGKILL);
  waitpid(shell, nullptr, 0);
  EXPECT_TRUE(spin([&] { return !processExists(child); }, 2));
}

TEST_F(FakeBackend, ALogPathThatIsNoPlainFileIsReplacedNotWrittenThrough) {
  script("echo written >&2\necho BRIVOK_READY http://127.0.0.1:1/\nexec sleep 30");
  // A hard link to a file of the user's: the file keeps its text and its mode.
  writeFile(dir / "precious", "keep me\n");
  chmod((dir / "precious").c_str(), 0644);
  std::filesystem::create_directories(dir / "state/brivok");
  ASSERT_EQ(link((dir / "precious").c_str(), log().c_str()), 0);
  start();
  ASSERT_TRUE(spin([&] { return readyUrl.has_value(); }));
  EXPECT_EQ(readFile(dir / "precious"), "keep me\n");
  struct stat st {};
  ASSERT_EQ(stat((dir / "precious").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  backend->stop();
  // A FIFO would block the shell for good.
  std::filesystem::remove(log());
  ASSERT_EQ(mkfifo(log().c_str(), 0600), 0);
  readyUrl.reset();
  start();
  ASSERT_TRUE(spin([&] { return readyUrl.has_value(); }));
  EXPECT_TRUE(std::filesystem::is_regular_file(log()));
  EXPECT_TRUE(spin([&] { return readFile(log()).rfind("written\n", 0) == 0; }));
}

TEST_F(FakeBackend, ExitWhileAGrandchildHoldsTheOutputIsStillReported) {
  script("(echo BRIVOK_READY http://127.0.0.1:9/; exec sleep 30) &\nsleep 0.3\nexit 0");
  start();
  const pid_t group = backend->pid();
  ASSERT_TRUE(spin([&] { return !exits.empty(); }));
  EXPECT_EQ(exits[0], "The Brivok backend stopped (exit 0). See " + log() + ".");
  EXPECT_EQ(backend->url(), "http://127.0.0.1:9/");
  EXPECT_TRUE(groupExists(group));
  // Quitting afterwards leaves nothing of the backend behind.
  backend->stop();
  EXPECT_TRUE(spin([&] { return !groupExists(group); }, 2));
}

TEST_F(FakeBackend, AnUnwritableLogFolderAndArbitraryBytesStillLetTheBackendRun) {
  writeFile(dir / "state", "a file where the folder should be");
  script("head -c 300000 /dev/urandom\necho\necho BRIVOK_READY http://127.0.0.1:3/\nexec sleep 30");
  start();
  ASSERT_TRUE(spin([&] { return readyUrl.has_value(); }));
  EXPECT_EQ(*readyUrl, "http://127.0.0.1:3/");
}

TEST_F(FakeBackend, AReadinessLineCountsWhenEndedOrAfterASilence) {
  // Written in two writes half a second apart: the cut address is never taken.
  script("printf 'BRIVOK_READY http://127.0.0.1:56'; sleep 0.5; printf '50/'; exec sleep 30");
  start();
  ASSERT_TRUE(spin([&] { return readyUrl.has_value(); }, 5));
  EXPECT_EQ(*readyUrl, "http://127.0.0.1:5650/");
}

}  // namespace
}  // namespace brivok
