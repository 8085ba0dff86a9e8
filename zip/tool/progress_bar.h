// progress_bar.h - the one-line progress bar vantrel-zip draws on stderr.
#pragma once

#include <unistd.h>

#include <cstdio>

namespace vantrel::zip::tool {

// Drawn only when stderr is a terminal, and redrawn only when the percentage
// changes.
class TProgressBar {
 public:
  void Show(int percent) {
    if (!enabled_ || percent == last_) return;
    last_ = percent;
    char bar[41];
    const int filled = percent * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
    drawn_ = true;
  }

  // Removes the bar, so that a message or a question starts on a clean line.
  void Clear() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r%60s\r", "");
    drawn_ = false;
    last_ = -1;
  }

 private:
  bool enabled_ = ::isatty(STDERR_FILENO);
  bool drawn_ = false;
  int last_ = -1;
};

}  // namespace vantrel::zip::tool
