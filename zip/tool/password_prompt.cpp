// password_prompt.cpp - asking for a password on the terminal without echo.
#include "zip/tool/password_prompt.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantrel::zip::tool {

std::optional<std::string> ReadPassword(const char* prompt) {
  const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct termios saved;
  const bool haveTerm = ::tcgetattr(fd, &saved) == 0;
  if (haveTerm) {
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  if (::write(fd, prompt, std::strlen(prompt)) < 0) { /* the prompt is a courtesy */ }
  std::string line;
  bool ok = false;
  for (;;) {
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n' || c == '\r') {
      ok = true;
      break;
    }
    line += c;
  }
  if (haveTerm) ::tcsetattr(fd, TCSAFLUSH, &saved);
  ::close(fd);
  if (!ok) return std::nullopt;
  return line;
}

}  // namespace vantrel::zip::tool
