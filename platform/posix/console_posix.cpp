#include "plat/console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace plat {

bool ConsoleKeyPressed() {
  if (::isatty(STDIN_FILENO) != 1) return true;
  // A terminal that has hung up has no key to give any more.
  pollfd input{STDIN_FILENO, POLLIN, 0};
  if (::poll(&input, 1, 0) < 0 || (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return true;
  // A process in the background of its terminal gets no key from it, and
  // changing the terminal's settings would stop it (SIGTTOU).
  const pid_t foreground = ::tcgetpgrp(STDIN_FILENO);
  if (foreground != -1 && foreground != ::getpgrp()) return true;
  termios saved{};
  if (::tcgetattr(STDIN_FILENO, &saved) != 0) return true;
  // A key, not a line: the terminal's line editing is off for the one read,
  // which takes what is waiting (a started line included) and returns at
  // once when nothing is.
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return true;
  char key = 0;
  const ssize_t got = ::read(STDIN_FILENO, &key, 1);
  ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  // 0 is nothing waiting; an error leaves no console to wait on.
  return got != 0;
}

}  // namespace plat
