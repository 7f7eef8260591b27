// The "any key" check on the standard input it finds: no terminal counts
// as a key; a terminal gives a key only when one was typed, takes it, and
// keeps its own settings; a process in the background of its terminal is
// not stopped by the check.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "plat/console.h"

namespace {

// Standard input replaced by `fd` (closed when -1) for the object's life.
class StandardInput {
 public:
  explicit StandardInput(int fd) : saved_(::dup(STDIN_FILENO)) {
    if (fd >= 0) {
      ::dup2(fd, STDIN_FILENO);
    } else {
      ::close(STDIN_FILENO);
    }
  }
  ~StandardInput() {
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

TEST(ConsoleKey, InputThatIsNoTerminalCountsAsAKey) {
  const int null = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(null, 0);
  {
    StandardInput input(null);
    EXPECT_TRUE(plat::ConsoleKeyPressed());
  }
  ::close(null);

  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  {
    StandardInput input(pipe[0]);
    EXPECT_TRUE(plat::ConsoleKeyPressed()) << "an empty pipe";
  }
  ::close(pipe[0]);
  ::close(pipe[1]);

  StandardInput closed(-1);
  EXPECT_TRUE(plat::ConsoleKeyPressed());
}

TEST(ConsoleKey, ATerminalGivesAKeyOnlyWhenOneWasTyped) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  termios before{};
  ASSERT_EQ(::tcgetattr(terminal, &before), 0);
  {
    StandardInput input(terminal);
    EXPECT_FALSE(plat::ConsoleKeyPressed());
    ASSERT_EQ(::write(master, "k", 1), 1);
    // The key crosses the terminal pair on its own time.
    bool pressed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!(pressed = plat::ConsoleKeyPressed()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(pressed);
    EXPECT_FALSE(plat::ConsoleKeyPressed()) << "the key was taken";
  }
  termios after{};
  ASSERT_EQ(::tcgetattr(terminal, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
  ::close(terminal);
  ::close(master);
}

// The exit status of `pid`, waited for up to five seconds; -1 when it did not
// end by then (it is killed) or was stopped.
int WaitWithDeadline(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG | WUNTRACED);
    if (done == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TEST(ConsoleKey, ABackgroundProcessIsNotStoppedByItsTerminal) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const char* const name = ::ptsname(master);
  ASSERT_NE(name, nullptr);
  // A session of its own whose controlling terminal is the pair's, and in
  // it a process group that is not the terminal's foreground.
  const pid_t session = ::fork();
  ASSERT_GE(session, 0);
  if (session == 0) {
    ::setsid();
    const int terminal = ::open(name, O_RDWR);
    if (terminal < 0) ::_exit(10);
    const pid_t background = ::fork();
    if (background == 0) {
      ::setpgid(0, 0);
      ::dup2(terminal, STDIN_FILENO);
      ::_exit(plat::ConsoleKeyPressed() ? 0 : 11);
    }
    ::_exit(WaitWithDeadline(background) == 0 ? 0 : 12);
  }
  EXPECT_EQ(WaitWithDeadline(session), 0);
  ::close(master);
}

}  // namespace
