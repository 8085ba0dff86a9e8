// utf8_names.h - names converted as UTF-8 while libarchive works.
//
// libarchive converts the names of formats that store Unicode (7z, RAR,
// Joliet) from and to the character set of the thread's locale; in the "C"
// locale every name beyond ASCII would come out mangled. While an object of
// this class lives, the calling thread's locale is UTF-8 (bytes of tar and
// cpio names pass through unchanged either way); it is the thread's own
// again afterwards. Other threads are not touched.
#pragma once

#include <locale.h>

namespace vantrel::formats {

class TUtf8Names {
 public:
  TUtf8Names() {
    utf8_ = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8_ != static_cast<locale_t>(0)) old_ = ::uselocale(utf8_);
  }
  ~TUtf8Names() {
    if (utf8_ == static_cast<locale_t>(0)) return;
    ::uselocale(old_);
    ::freelocale(utf8_);
  }
  TUtf8Names(const TUtf8Names&) = delete;
  TUtf8Names& operator=(const TUtf8Names&) = delete;

 private:
  locale_t utf8_;
  locale_t old_ = static_cast<locale_t>(0);
};

}  // namespace vantrel::formats
