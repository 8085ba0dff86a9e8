// panel_reading_test.cpp - the panel while its directory is still being read:
// rows arrive with the cursor, the marks and quick search working; a
// directory that does not answer shows "Reading…" and Escape goes back;
// failures, at once and later.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "gui_support.h"
#include "panels/qt/fmpanel.h"

using namespace vantrel;
using namespace vantrel::testing;
using panels::TEntryStream;
using panels::TFMPanel;
using namespace std::chrono_literals;

namespace {

// Made-up entries ("n0000".."nNNNN" read in a scrambled order, "zz_last"
// read last), resting now and then so they come in several slices.
class TScriptedStream final : public TEntryStream {
 public:
  TScriptedStream(std::string path, int count, std::chrono::milliseconds rest, int restEvery)
      : path_(std::move(path)), count_(count), rest_(rest), restEvery_(restEvery) {}
  std::string ResolvedPath() const override { return path_; }
  bool Next(platform::FindData& out, std::string*) override {
    if (next_ > count_) return false;
    if (next_ > 0 && next_ % restEvery_ == 0) std::this_thread::sleep_for(rest_);
    out = platform::FindData();
    out.attributes = platform::kAttrArchive;
    out.size = 1;
    char name[32];
    std::snprintf(name, sizeof name, "n%05d", (next_ * 7919) % count_);
    out.name = next_ == count_ ? "zz_last" : name;
    ++next_;
    return true;
  }
  std::string DiskLine() const override { return "disk"; }

 private:
  std::string path_;
  int count_;
  std::chrono::milliseconds rest_;
  int restEvery_;
  int next_ = 0;
};

// Opening waits until the test lets it, as a mount that stopped answering.
struct TGate {
  std::mutex mutex;
  std::condition_variable open;
  bool released = false;
  void Release() {
    std::lock_guard lock(mutex);
    released = true;
    open.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex);
    open.wait(lock, [&] { return released; });
  }
};

}  // namespace

class PanelReadingTest : public QObject {
  Q_OBJECT

  QTemporaryDir tmp_;
  std::string home_;  // the directory shown before each reading
  std::unique_ptr<QWidget> window_;
  TFMPanel* panel_ = nullptr;
  panels::TInfoLine* dirLine_ = nullptr;

  std::string AtCursor() const { return panel_->CurrentEntry()->FileName; }
  // "slow" is opened when the gate is released, then reads ten names; every
  // other directory is read as it is.
  std::shared_ptr<TGate> GateSlow() {
    auto gate = std::make_shared<TGate>();
    panel_->SetDirectoryOpener([gate, slow = home_ + "/slow"](const std::string& path, std::string* error)
                                   -> std::unique_ptr<TEntryStream> {
      if (path != slow) return panels::OpenLocalDirectory(path, error);
      gate->Wait();
      return std::make_unique<TScriptedStream>(path, 10, 0ms, 1000);
    });
    return gate;
  }
  void UseScripted(int count, std::chrono::milliseconds rest, int restEvery) {
    panel_->SetDirectoryOpener([=](const std::string& path, std::string*) -> std::unique_ptr<TEntryStream> {
      return std::make_unique<TScriptedStream>(path, count, rest, restEvery);
    });
  }

 private slots:
  void initTestCase() {
    home_ = Std(tmp_.filePath(QStringLiteral("home")));
    QVERIFY(MakeDir(home_ + "/slow") && MakeDir(home_ + "/big"));
    for (const char* f : {"a.txt", "b.txt", "c.txt"}) QVERIFY(MakeFile(home_ + "/" + f, 3));
  }

  void init() {
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    dirLine_ = new panels::TInfoLine;
    panel_ = new TFMPanel;
    panel_->SetDirPanel(dirLine_);
    layout->addWidget(dirLine_);
    layout->addWidget(panel_);
    panel_->setFixedSize(400, 200);
    QVERIFY(panel_->ReadDirectory(home_));
    QVERIFY(!panel_->Reading());
    panel_->SetCursor(panel_->IndexOfName("b.txt"));
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    panel_->setFocus();
    QTRY_VERIFY(panel_->hasFocus());
  }
  void cleanup() { window_.reset(); }

  // A small directory is whole when ReadDirectory returns, as before.
  void smallDirectoryIsWholeAtOnce() {
    QCOMPARE(panel_->Count(), 6);  // "..", big, slow, a, b, c
    QCOMPARE(panel_->Entries()[1]->FileName, std::string("big"));
    QCOMPARE(AtCursor(), std::string("b.txt"));
  }

  // Rows come while the panel is in use: keys move the cursor, marks and the
  // cursor stay on their entries as rows sort in around them, and the end
  // is told once.
  void rowsArriveWithCursorAndMarksKept() {
    UseScripted(3000, 80ms, 400);
    QSignalSpy done(panel_, &TFMPanel::readingDone);
    QVERIFY(panel_->ReadDirectory(home_ + "/big"));
    QTRY_VERIFY(panel_->Count() > 20);
    QVERIFY2(panel_->Reading(), "the reading should still be under way");
    QCOMPARE(AtCursor(), std::string(".."));
    QTest::keyClick(panel_, Qt::Key_Down);
    QTest::keyClick(panel_, Qt::Key_Down);
    QTest::keyClick(panel_, Qt::Key_Space);  // marks the third row
    const std::string marked = panel_->Entries()[2]->FileName;
    QTest::keyClick(panel_, Qt::Key_Down);
    const std::string cursor = AtCursor();
    QVERIFY(panel_->Reading());
    QTRY_VERIFY_WITH_TIMEOUT(!panel_->Reading(), 20000);
    QCOMPARE(done.count(), 1);
    QCOMPARE(panel_->Count(), 3002);
    QCOMPARE(AtCursor(), cursor);
    QCOMPARE(panel_->Model().MarkedCount(), 1);
    QCOMPARE(panel_->GetMarkedEntries().front()->FileName, marked);
    QCOMPARE(panel_->Entries()[1]->FileName, std::string("n00000"));
    QCOMPARE(panel_->Entries().back()->FileName, std::string("zz_last"));
    QCOMPARE(panel_->Model().DiskLine(), std::string("disk"));
  }

  // Quick search finds what has come and stays on it while the rest comes;
  // a name asked for before its row came is found once it comes.
  void quickSearchAndWantedCursorWhileRowsArrive() {
    UseScripted(3000, 80ms, 400);
    QVERIFY(panel_->ReadDirectory(home_ + "/big"));
    QTRY_VERIFY(panel_->Count() > 20);
    const std::string target = panel_->Entries()[10]->FileName;
    panel_->OpenQuickSearch(QString::fromStdString(target));
    QTRY_COMPARE(AtCursor(), target);
    panel_->CloseQuickSearch();
    QTRY_VERIFY_WITH_TIMEOUT(!panel_->Reading(), 20000);
    QCOMPARE(AtCursor(), target);

    QVERIFY(panel_->ReadDirectory(home_ + "/big"));
    QVERIFY(panel_->Reading());
    panel_->PlaceCursorOn("zz_last");  // read last of all
    QTRY_VERIFY_WITH_TIMEOUT(!panel_->Reading(), 20000);
    QCOMPARE(AtCursor(), std::string("zz_last"));
  }

  // A directory that does not answer: the call returns at once, the panel
  // says "Reading…", keys still work, and Escape goes back to where it was.
  void slowDirectoryShowsReadingAndEscapeGoesBack() {
    const auto gate = GateSlow();
    const std::string slow = home_ + "/slow";
    const auto before = std::chrono::steady_clock::now();
    QVERIFY(panel_->ReadDirectory(slow));
    QVERIFY(std::chrono::steady_clock::now() - before < 1s);
    QVERIFY(panel_->Reading());
    QCOMPARE(panel_->Count(), 0);
    QCOMPARE(panel_->Directory(), slow);
    QCOMPARE(dirLine_->text(), Q(slow));
    QCOMPARE(panels::PanelTexts().reading, std::string("Reading\u2026"));
    panel_->grab();  // paints the empty panel with its line
    QTest::keyClick(panel_, Qt::Key_Down);  // nothing to move over; no harm
    QTest::keyClick(panel_, Qt::Key_Escape);
    QVERIFY(!panel_->Reading());
    QCOMPARE(panel_->Directory(), home_);
    QCOMPARE(AtCursor(), std::string("b.txt"));
    // The mount answers late: what it says no longer matters, nor the key
    // typed for it.
    gate->Release();
    QTest::qWait(TFMPanel::kTypeAheadMs + 200);
    QCOMPARE(panel_->Directory(), home_);
    QCOMPARE(panel_->Count(), 6);
    QCOMPARE(AtCursor(), std::string("b.txt"));
  }

  // Keys typed before a slow directory's rows came act on them once they
  // are in, in the order typed.
  void keysTypedWhileReadingActOnTheListing() {
    const auto gate = GateSlow();
    const std::string slow = home_ + "/slow";
    QVERIFY(panel_->ReadDirectory(slow));
    QVERIFY(panel_->Reading());
    QCOMPARE(panel_->Count(), 0);
    QTest::keyClick(panel_, Qt::Key_End);
    QTest::keyClick(panel_, Qt::Key_Up);
    gate->Release();
    QTRY_VERIFY(!panel_->Reading());
    QCOMPARE(panel_->Count(), 12);  // "..", ten names and zz_last
    QTRY_COMPARE(panel_->Cursor(), panel_->Count() - 2);
    QCOMPARE(AtCursor(), panel_->Entries()[10]->FileName);
  }

  // Keys held for a row that is long in coming act on the rows come so far
  // once the wait is over, without waiting for the rest of the reading: End
  // then lands on a row read in the first seconds, not on zz_last, read last.
  void heldKeysActAfterTheWaitWhileReadingGoesOn() {
    UseScripted(2000, 250ms, 200);  // about two and a half seconds
    QVERIFY(panel_->ReadDirectory(home_ + "/big"));
    QVERIFY(panel_->Reading());
    panel_->PlaceCursorOn("zz_last");
    QTest::keyClick(panel_, Qt::Key_End);
    QTRY_VERIFY_WITH_TIMEOUT(!panel_->Reading(), 20000);
    QCOMPARE(panel_->Count(), 2002);
    QVERIFY2(AtCursor() != ".." && AtCursor() != "zz_last", AtCursor().c_str());
  }

  // Ctrl+R on a directory that does not answer: the call returns at once,
  // the listing stays in use (keys, marks), and when the answer comes it
  // replaces the listing with the cursor and the marks on their names. A
  // reread that answers after the panel went elsewhere changes nothing.
  void slowRereadKeepsTheWindowWorking() {
    auto gate = std::make_shared<TGate>();
    panel_->SetDirectoryOpener([gate](const std::string& path, std::string* error) {
      gate->Wait();  // until released, then at once
      return panels::OpenLocalDirectory(path, error);
    });
    panel_->SetLive(false);  // the file made below is for the reread to find
    const std::string made = home_ + "/bb.txt";
    QVERIFY(MakeFile(made, 5));
    const auto before = std::chrono::steady_clock::now();
    QVERIFY(panel_->Reread());
    QVERIFY(std::chrono::steady_clock::now() - before < 1s);
    QVERIFY(panel_->Rereading());
    QCOMPARE(panel_->Count(), 6);
    QTest::keyClick(panel_, Qt::Key_Down);
    QCOMPARE(AtCursor(), std::string("c.txt"));
    panel_->SetCursor(panel_->IndexOfName("a.txt"));
    QTest::keyClick(panel_, Qt::Key_Space);  // marks a.txt
    QTest::keyClick(panel_, Qt::Key_Down);
    QCOMPARE(AtCursor(), std::string("b.txt"));
    gate->Release();
    QTRY_VERIFY(!panel_->Rereading());
    QCOMPARE(panel_->Count(), 7);
    QCOMPARE(AtCursor(), std::string("b.txt"));
    QCOMPARE(panel_->Model().MarkedCount(), 1);
    QCOMPARE(panel_->GetMarkedEntries().front()->FileName, std::string("a.txt"));
    QCOMPARE(panel_->Entries()[static_cast<size_t>(panel_->IndexOfName("bb.txt"))]->FileSize, 5u);

    // Elsewhere before the answer: the answer is dropped.
    auto late = std::make_shared<TGate>();
    panel_->SetDirectoryOpener([late, home = home_](const std::string& path, std::string* error) {
      if (path == home) late->Wait();
      return panels::OpenLocalDirectory(path, error);
    });
    QVERIFY(panel_->Reread());
    QVERIFY(panel_->Rereading());
    QVERIFY(panel_->ReadDirectory(home_ + "/big"));
    QVERIFY(!panel_->Rereading());
    late->Release();
    QTest::qWait(300);
    QCOMPARE(panel_->Directory(), home_ + "/big");
    QCOMPARE(panel_->Count(), 1);  // ".." alone
    QVERIFY(std::remove(made.c_str()) == 0);
  }

  // A command made a file and the reread is slow: the cursor goes to the
  // file when the reread brings it, unless it was moved meanwhile.
  void cursorGoesToTheNameASlowRereadBrings() {
    const struct {
      const char* name;
      bool moved;
      const char* expected;
    } cases[] = {{"ba.txt", false, "ba.txt"}, {"bc.txt", true, "c.txt"}};
    panel_->SetLive(false);  // the file made below is for the reread to find
    for (const auto& c : cases) {
      auto gate = std::make_shared<TGate>();
      panel_->SetDirectoryOpener([gate](const std::string& path, std::string* error) {
        gate->Wait();
        return panels::OpenLocalDirectory(path, error);
      });
      const std::string made = home_ + "/" + c.name;
      QVERIFY(MakeFile(made, 1));
      QVERIFY(panel_->Reread());
      QVERIFY(panel_->Rereading());
      panel_->PlaceCursorWhenListed(c.name);
      QCOMPARE(AtCursor(), std::string("b.txt"));  // not listed yet
      if (c.moved) QTest::keyClick(panel_, Qt::Key_Down);
      gate->Release();
      QTRY_VERIFY(!panel_->Rereading());
      QCOMPARE(AtCursor(), std::string(c.expected));
      QVERIFY(std::remove(made.c_str()) == 0);
      panel_->SetDirectoryOpener(panels::OpenLocalDirectory);
      QVERIFY(panel_->Reread());
      panel_->SetCursor(panel_->IndexOfName("b.txt"));
    }
  }

  // The order changes while a slow reread runs: the reread's rows, read in
  // the old order, are shown in the new one.
  void sortChangedWhileASlowRereadRuns() {
    auto gate = std::make_shared<TGate>();
    panel_->SetDirectoryOpener([gate](const std::string& path, std::string* error) {
      gate->Wait();
      return panels::OpenLocalDirectory(path, error);
    });
    panel_->SetLive(false);
    const std::string made = home_ + "/bigger.txt";
    QVERIFY(MakeFile(made, 50));
    QVERIFY(panel_->Reread());
    QVERIFY(panel_->Rereading());
    panel_->SetSortType(panels::kSortBySize);
    gate->Release();
    QTRY_VERIFY(!panel_->Rereading());
    std::vector<std::string> names;
    for (const auto& e : panel_->Entries()) names.push_back(e->FileName);
    QCOMPARE(names, (std::vector<std::string>{"..", "big", "slow", "bigger.txt", "a.txt", "b.txt", "c.txt"}));
    QCOMPARE(AtCursor(), std::string("b.txt"));
    panel_->SetSortType(panels::kSortByName);
    QVERIFY(std::remove(made.c_str()) == 0);
  }

  // A new order for a large listing is worked out away from the window's
  // thread: the call returns at once with the rows as they were, the new
  // order comes with the cursor on its entry.
  void largeListingReorderedAwayFromTheWindow() {
    UseScripted(30000, 0ms, 1000000);
    QVERIFY(panel_->ReadDirectory(home_ + "/big"));
    QTRY_VERIFY(!panel_->Reading());
    QCOMPARE(panel_->Count(), 30002);  // "..", the names and "zz_last"
    panel_->SetCursor(panel_->IndexOfName("n00100"));
    QTest::keyClick(panel_, Qt::Key_Space);  // marks n00100
    QTest::keyClick(panel_, Qt::Key_Down);
    QCOMPARE(AtCursor(), std::string("n00101"));
    panel_->Model().SetSortDescending(true);
    QVERIFY(panel_->Model().Reordering());
    QCOMPARE(panel_->Entries()[1]->FileName, std::string("n00000"));
    QTest::keyClick(panel_, Qt::Key_Down);  // keys work meanwhile
    QCOMPARE(AtCursor(), std::string("n00102"));
    QTRY_VERIFY(!panel_->Model().Reordering());
    QCOMPARE(panel_->Entries()[1]->FileName, std::string("zz_last"));
    QCOMPARE(panel_->Entries()[2]->FileName, std::string("n29999"));
    QCOMPARE(AtCursor(), std::string("n00102"));
    QCOMPARE(panel_->Model().MarkedCount(), 1);
    QCOMPARE(panel_->GetMarkedEntries().front()->FileName, std::string("n00100"));
    panel_->Model().SetSortDescending(false);
    QTRY_VERIFY(!panel_->Model().Reordering());
  }

  // A change seen by the directory watch is read on the reading thread too:
  // a slow one leaves the panel working until it comes.
  void liveRereadThroughTheReadingThread() {
    auto gate = std::make_shared<TGate>();
    panel_->SetDirectoryOpener([gate](const std::string& path, std::string* error) {
      gate->Wait();
      return panels::OpenLocalDirectory(path, error);
    });
    QSignalSpy refreshed(panel_, &TFMPanel::listingRefreshed);
    const std::string made = home_ + "/live.txt";
    QVERIFY(MakeFile(made, 2));
    QTest::qWait(600);  // the watch's interval and more: the reading waits at the gate
    QCOMPARE(panel_->Count(), 6);
    QTest::keyClick(panel_, Qt::Key_Up);
    QCOMPARE(AtCursor(), std::string("a.txt"));
    gate->Release();
    QTRY_COMPARE(panel_->Count(), 7);
    QVERIFY(refreshed.count() >= 1);
    QCOMPARE(AtCursor(), std::string("a.txt"));
    QVERIFY(std::remove(made.c_str()) == 0);
  }

  // Entering fails at once: false with the reason, the panel unchanged;
  // entering fails after the wait: back where it was, and told.
  void failuresAtOnceAndLater() {
    std::string error;
    QVERIFY(!panel_->ReadDirectory(home_ + "/none", &error));
    QVERIFY(!error.empty());
    QCOMPARE(panel_->Directory(), home_);
    QCOMPARE(AtCursor(), std::string("b.txt"));

    const std::string slow = home_ + "/slow";
    panel_->SetDirectoryOpener([slow](const std::string& path, std::string* error) -> std::unique_ptr<TEntryStream> {
      if (path != slow) return panels::OpenLocalDirectory(path, error);
      std::this_thread::sleep_for(300ms);
      *error = "Transport endpoint is not connected";
      return nullptr;
    });
    QSignalSpy failed(panel_, &TFMPanel::readingFailed);
    QVERIFY(panel_->ReadDirectory(home_ + "/slow"));
    QVERIFY(panel_->Reading());
    QTRY_COMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), Q(home_ + "/slow"));
    QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("Transport endpoint is not connected"));
    QVERIFY(!panel_->Reading());
    QCOMPARE(panel_->Directory(), home_);
    QCOMPARE(AtCursor(), std::string("b.txt"));
  }
};

QTEST_MAIN(PanelReadingTest)
#include "panel_reading_test.moc"
