#!/usr/bin/env python3
# scripts/platform_map on a made-up platform/ file: which functions count as
# offered (public members, those defined in the class, destructors, overloads
# once; nothing private, deleted, defaulted or a signal) and which services
# each reaches (through the file's own helpers, the toolkit's connect not
# taken for the socket call). Then --check on a document whose tables are
# one row short must fail, and pass once --update has written them.
import os, subprocess, sys, tempfile

root_dir = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
script = os.path.join(root_dir, 'scripts', 'platform_map')

HEADER = r'''// sample.h
#pragma once
#include <string>
#include <QObject>

namespace vantrel::platform {

// Opens a file.
int OpenIt(const std::string& path);
int OpenIt(const std::string& path, int flags);
inline int Twice(int n) { return n * 2; }

struct Pair {
  int a = 0;
  bool operator==(const Pair&) const = default;
};

class THolder final : public QObject {
  Q_OBJECT

 public:
  THolder();
  ~THolder() override;
  THolder(const THolder&) = delete;
  THolder& operator=(const THolder&) = delete;
  bool Load(const std::string& path);
  int fd() const { return fd_; }
  void Watch() { Listen(); }

 signals:
  void changed();

 private:
  void Listen();
  void Helper();
  int fd_ = -1;
};

}  // namespace vantrel::platform
'''

SOURCE = r'''// sample.cpp
#include "platform/sample.h"
#include <fcntl.h>
#include <unistd.h>

namespace vantrel::platform {

namespace {
int Retry(int fd) { return ::fsync(fd); }
}  // namespace

int OpenIt(const std::string& path) { return ::open(path.c_str(), O_RDONLY); }
int OpenIt(const std::string& path, int flags) { return Retry(::openat(AT_FDCWD, path.c_str(), flags)); }

THolder::THolder() = default;

THolder::~THolder() {
  if (fd_ >= 0) ::close(fd_);
}

bool THolder::Load(const std::string& path) {
  fd_ = OpenIt(path);
  Helper();
  return fd_ >= 0 && std::getenv("HOME") != nullptr;
}

void THolder::Listen() { connect(this, &THolder::changed, this, [] {}); }

void THolder::Helper() { ::shutdown(fd_, 1); }

}  // namespace vantrel::platform
'''

EXPECTED = '''
### `platform/sample.h`

| function | system service |
|---|---|
| `OpenIt` | `fsync()`, `open()`, `openat()` |
| `Twice` | none (computation only) |
| `THolder::~THolder` | `close()` |
| `THolder::Load` | `fsync()`, `getenv()`, `open()`, `openat()`, `shutdown()` |
| `THolder::fd` | none (computation only) |
| `THolder::Watch` | none (computation only) |
'''

failures = 0


def check(what, got, want):
    global failures
    if got != want:
        failures += 1
        print('FAILED: %s\n--- got\n%s\n--- wanted\n%s' % (what, got, want))


with tempfile.TemporaryDirectory() as root:
    os.makedirs(os.path.join(root, 'platform'))
    open(os.path.join(root, 'platform', 'sample.h'), 'w').write(HEADER)
    open(os.path.join(root, 'platform', 'sample.cpp'), 'w').write(SOURCE)
    made = subprocess.run([sys.executable, script, root], capture_output=True, text=True)
    check('the tables', made.stdout, EXPECTED)
    check('warnings', made.stderr, '')

    doc = os.path.join(root, 'platform.md')
    short = EXPECTED.replace('| `Twice` | none (computation only) |\n', '')
    open(doc, 'w').write('# Platform\n\nText before the tables.\n' + short)
    drifted = subprocess.run([sys.executable, script, '--check', doc, root], capture_output=True, text=True)
    check('--check on a drifted document fails', drifted.returncode, 1)
    check('--check names the missing row', '+| `Twice` | none (computation only) |' in drifted.stdout, True)
    subprocess.run([sys.executable, script, '--update', doc, root], check=True)
    check('--update keeps the text and writes the tables', open(doc).read(),
          '# Platform\n\nText before the tables.\n' + EXPECTED)
    fixed = subprocess.run([sys.executable, script, '--check', doc, root], capture_output=True, text=True)
    check('--check after --update', (fixed.returncode, fixed.stdout), (0, ''))

print('%d failed' % failures if failures else 'all passed')
sys.exit(1 if failures else 0)
