// jobs_test.cpp - jobs in the real main window, offscreen: Background (F2)
// in the operation window leaves the panels usable and re-reads them when the
// job ends, F2 in the Copy prompt queues the job, the Operations window
// (Ctrl+J, the status bar's indicator) pauses, resumes, reorders and cancels.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QInputDialog>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>

#include "app/commands/file_commands.h"
#include "app/dialogs/operationsform.h"
#include "app/dialogs/conflict_list.h"
#include "fileops/job.h"
#include "fileops/qt/job_center.h"
#include "fileops/qt/operationform.h"
#include "gui_support.h"
#include "platform/qt/notification.h"

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// A job on the right panel's disk that runs until released, so that a copy
// there waits for it: the test's files, just written, are in memory, so the
// queue is told not to look (unless `sampled`).
struct TBlocker {
  // Shared with the job, which may outlive a failed test's scope.
  std::shared_ptr<std::atomic<bool>> released = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<fileops::TJob> job;
  fileops::TJobQueue& queue;
  TBlocker(fileops::TJobQueue& q, const std::string& dir, const char* title = "blocker", bool sampled = false)
      : queue(q) {
    if (!sampled) queue.SetFacts(nullptr);
    job = queue.Add(title, fileops::DevicesOf({dir}), [released = released](fileops::TJob& self) {
      while (self.Pass() && !*released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  }
  ~TBlocker() { queue.SetFacts(fileops::SystemJobFacts()); }
  void Release() { *released = true; }
};

}  // namespace

// The desktop's notification service, as far as a test needs it: it keeps
// what it was sent.
class TFakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  QStringList received;  // "summary|body"

 public slots:
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
              const QStringList&, const QVariantMap&, int) {
    received << summary + QLatin1Char('|') + body;
    return static_cast<uint>(received.size());
  }
};

namespace {

QStringList Column(const QTreeWidget* list, int column) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
  return texts;
}

}  // namespace

class JobsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  fileops::TOperationForm* Window() const { return app::OperationForm(*f_->form); }
  fileops::TJobQueue& Queue() const { return app::JobCenter(*f_->form)->Queue(); }
  QPushButton* Indicator() const { return f_->Find<QPushButton>("JobIndicator"); }
  QProcess bus_;
  TFakeNotifications fake_;

 private slots:
  // A private session bus for the notification tests (before anything in the
  // process uses the session bus), without a notification service at first.
  void initTestCase() {
    bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                               QStringLiteral("--print-address=1")});
    if (!bus_.waitForStarted(5000) || !bus_.waitForReadyRead(5000)) return;
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus_.readLine().trimmed());
  }
  void cleanupTestCase() {
    bus_.kill();
    bus_.waitForFinished(5000);
  }
  void init() { f_ = std::make_unique<TFormFixture>(); }
  void cleanup() { f_.reset(); }

  // Nothing is sent while no service holds the name; once one does, it gets
  // the summary and the body.
  void notificationOnlyWhereThereIsAService() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) QSKIP("no dbus-daemon for a private session bus");
    QVERIFY(!platform::SendDesktopNotification(QStringLiteral("nobody"), QStringLiteral("listens")));
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromUtf8(qgetenv("DBUS_SESSION_BUS_ADDRESS")),
                                                            QStringLiteral("fake-notifications"));
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake_,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
    QVERIFY(platform::SendDesktopNotification(QStringLiteral("Copy a.txt"), QStringLiteral("Done")));
    QTRY_COMPARE(fake_.received, QStringList({"Copy a.txt|Done"}));
    fake_.received.clear();
  }

  // A background job that ends while another window is active says so
  // through the service; one that ends while the main window is active does not.
  void backgroundJobEndNotifies() {
    if (!QDBusConnection::sessionBus().interface() ||
        !QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")))
      QSKIP("no notification service on the private bus");
    QVERIFY(MakeFile(f_->left + "/n.txt", 10));
    QVERIFY(f_->Show());
    for (const bool elsewhere : {false, true}) {
      fake_.received.clear();
      QFile::remove(Q(f_->right + "/n.txt"));
      TBlocker blocker(Queue(), f_->right);
      const auto background = QObject::connect(Window(), &fileops::TOperationForm::progressShown, [&](int) {
        QTimer::singleShot(0, f_->L(), [&] { QTest::keyClick(f_->L(), Qt::Key_F2); });
      });
      QVERIFY(f_->Put(f_->L(), "n.txt"));
      Script().inputs.push_back(Q(f_->right));
      QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
      QObject::disconnect(background);
      QWidget other;
      if (elsewhere) {
        // After the main window took the activation back from the progress
        // window (once its hiding is handled).
        QTest::qWait(50);
        other.show();
        QApplication::setActiveWindow(&other);
        QTRY_VERIFY(!f_->form->isActiveWindow());
      }
      blocker.Release();
      QTRY_VERIFY(Queue().Jobs().empty());
      QTRY_VERIFY(Exists(f_->right + "/n.txt"));
      if (elsewhere) {
        QTRY_COMPARE(fake_.received, QStringList({Q("Copy n.txt to " + f_->right + "|Done")}));
      } else {
        QTest::qWait(100);
        QCOMPARE(fake_.received, QStringList());
      }
      other.close();
      QApplication::setActiveWindow(f_->form.get());
      QTRY_VERIFY(f_->form->isActiveWindow());
      f_->L()->setFocus();
    }
  }

  // F2 in the operation window: it closes at once and the command returns
  // while the job waits; the panel takes keys, the indicator counts the job,
  // and when the job ends the right panel lists the copy and the copy is
  // unmarked on the left.
  void backgroundLeavesThePanelsUsable() {
    QVERIFY(MakeFile(f_->left + "/a.txt", 10) && MakeFile(f_->left + "/b.txt", 20));
    QVERIFY(f_->Show());
    TBlocker blocker(Queue(), f_->right);
    bool sent = false;
    const auto background = QObject::connect(Window(), &fileops::TOperationForm::progressShown, [&](int) {
      if (!sent) QTimer::singleShot(0, f_->L(), [&] { QTest::keyClick(f_->L(), Qt::Key_F2); });
      sent = true;
    });
    QVERIFY(f_->Mark(f_->L(), "a.txt"));
    Script().inputs.push_back(Q(f_->right));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    QObject::disconnect(background);
    QVERIFY(sent && !Window()->isVisible());
    QCOMPARE(Queue().Jobs().size(), size_t{2});
    QTRY_VERIFY(Indicator()->isVisible());
    QCOMPARE(Indicator()->text().left(17), QStringLiteral("1 job (+1 queued)"));
    // The panel goes on taking keys.
    QVERIFY(f_->Put(f_->L(), "a.txt"));
    QVERIFY(f_->Press(f_->L(), Qt::Key_Down));
    QCOMPARE(FormFixtureAtCursor(), std::string("b.txt"));
    QVERIFY(!f_->Listed(f_->R(), "a.txt"));
    blocker.Release();
    QTRY_VERIFY(Queue().Jobs().empty());
    QTRY_VERIFY(f_->Listed(f_->R(), "a.txt"));
    QVERIFY(!f_->L()->IsMarked(f_->L()->IndexOfName("a.txt")));
    QTRY_VERIFY(!Indicator()->isVisible());
    QVERIFY(ShownMessages().empty());
  }

  // A copy whose files were just written (so are in memory) does not wait
  // for the job running on its disk: it ends while the other one still runs
  // (should it wait, F2 sends it to the background and the test fails
  // instead of hanging).
  void aCopyOfFilesInMemoryRunsBesideAJobOnItsDisk() {
    QVERIFY(MakeFile(f_->left + "/m.txt", 4000) && MakeFile(f_->left + "/n.txt", 5000));
    QVERIFY(f_->Show());
    TBlocker blocker(Queue(), f_->right, "blocker", true);
    const auto background = QObject::connect(Window(), &fileops::TOperationForm::progressShown, [&](int) {
      QTimer::singleShot(0, f_->L(), [&] { QTest::keyClick(f_->L(), Qt::Key_F2); });
    });
    QVERIFY(f_->Mark(f_->L(), "m.txt") && f_->Mark(f_->L(), "n.txt"));
    Script().inputs.push_back(Q(f_->right));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    QObject::disconnect(background);

    QTRY_VERIFY(Exists(f_->right + "/m.txt") && Exists(f_->right + "/n.txt"));
    QTRY_COMPARE(Queue().Jobs().size(), size_t{1});
    QCOMPARE(Queue().Jobs().front()->Title(), std::string("blocker"));
    blocker.Release();
    QTRY_VERIFY(Queue().Jobs().empty());
  }

  // F2 instead of Enter in the Copy prompt: the job is queued without the

  // operation window, and its copy appears in the right panel.
  void f2InTheCopyPromptQueuesTheJob() {
    QVERIFY(MakeFile(f_->left + "/q.txt", 30));
    QVERIFY(f_->Show());
    app::SetInputHandler(nullptr);  // the real prompt
    bool windowShown = false;
    const auto shown = QObject::connect(Window(), &fileops::TOperationForm::progressShown,
                                        [&](int) { windowShown = true; });
    bool prompted = false;
    QTimer poll;  // until the prompt is up
    QObject::connect(&poll, &QTimer::timeout, f_->form.get(), [&] {
      auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      // A shortcut needs its window active.
      if (dialog == nullptr || !dialog->isVisible() || !dialog->isActiveWindow()) return;
      poll.stop();
      prompted = dialog->objectName() == QStringLiteral("QueueableInput") && dialog->textValue() == Q(f_->right);
      QTest::keyClick(dialog, Qt::Key_F2);
      if (dialog->isVisible()) dialog->reject();  // F2 failed: the test must not hang
    });
    poll.start(10);
    QVERIFY(f_->Put(f_->L(), "q.txt"));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    InstallScript();
    QObject::disconnect(shown);
    QVERIFY(prompted);
    QVERIFY(!windowShown);
    QTRY_VERIFY(Queue().Jobs().empty());
    QTRY_VERIFY(f_->Listed(f_->R(), "q.txt"));
    QCOMPARE(QFileInfo(Q(f_->right + "/q.txt")).size(), 30);
  }

  // Closing with a job asks: Continue keeps the window and the job, Cancel
  // jobs cancels it and closes, Wait closes once the job ended (showing the
  // Operations window meanwhile). Without jobs nothing is asked.
  void closingWithJobsAsks() {
    struct Case {
      app::MessageAnswer answer;
      bool closedAtOnce;
      fileops::TJobState end;  // of the job
    };
    const Case cases[] = {
        {app::MessageAnswer::Ok, false, fileops::TJobState::Finished},
        {app::MessageAnswer::Abort, true, fileops::TJobState::Cancelled},
        {app::MessageAnswer::Yes, false, fileops::TJobState::Finished},
    };
    for (const Case& c : cases) {
      f_ = std::make_unique<TFormFixture>();
      QVERIFY(f_->Show());
      TBlocker blocker(Queue(), f_->right);
      QTRY_COMPARE(blocker.job->State(), fileops::TJobState::Running);
      Script() = TScript(), Script().answers = {c.answer};
      f_->form->close();
      QCOMPARE(Script().Texts(), QStringList({"1 job has not ended yet."}));
      QCOMPARE(!f_->form->isVisible(), c.closedAtOnce);
      if (c.closedAtOnce) {
        QVERIFY(Queue().WaitIdle(std::chrono::seconds(5)));
      } else {
        QCOMPARE(blocker.job->State(), fileops::TJobState::Running);
        QCOMPARE(f_->Find<app::TOperationsForm>("OperationsForm") != nullptr &&
                     f_->Find<app::TOperationsForm>("OperationsForm")->isVisible(),
                 c.answer == app::MessageAnswer::Yes);
        blocker.Release();
        QVERIFY(Queue().WaitIdle(std::chrono::seconds(5)));
        // Waiting: the window goes once the job ended, without a second question.
        QTRY_COMPARE(!f_->form->isVisible(), c.answer == app::MessageAnswer::Yes);
        QCOMPARE(Script().shown.size(), size_t{1});
      }
      QCOMPARE(blocker.job->State(), c.end);
    }
    // No job: the window closes unasked.
    f_ = std::make_unique<TFormFixture>();
    QVERIFY(f_->Show());
    Script() = TScript();
    f_->form->close();
    QVERIFY(!f_->form->isVisible());
    QVERIFY(Script().shown.empty());
  }

  // A job in the background keeps its conflicts for its end: the file
  // without one is copied first, then one list asks about the rest (the
  // Operations window counts them meanwhile) and the choice applies to all.
  void backgroundConflictsAreAskedAsOneListAtTheEnd() {
    struct Case {
      fileops::TConflictChoice choice;
      QByteArray b;        // what b.txt holds afterwards
      bool renamedCopy;    // "b (2).txt" holds the new one
    };
    const Case cases[] = {
        {fileops::TConflictChoice::OverwriteAll, "new b", false},
        {fileops::TConflictChoice::SkipAll, "old b", false},
        {fileops::TConflictChoice::RenameAll, "old b", true},
    };
    for (const Case& c : cases) {
      f_ = std::make_unique<TFormFixture>();
      WriteText(f_->left + "/a.txt", "a"), WriteText(f_->left + "/b.txt", "new b");
      WriteText(f_->right + "/b.txt", "old b");
      QVERIFY(f_->Show());
      static fileops::TConflictChoice choice;
      static QStringList asked;
      static QString row;
      static QPointer<app::TMainForm> form;
      choice = c.choice, asked.clear(), row.clear(), form = f_->form.get();
      app::SetConflictListHandler([](QWidget*, const QString&, const QStringList& items) {
        asked = items;
        if (app::TOperationsForm* ops = app::ShowOperations(*form))
          if (auto* list = ops->findChild<QTreeWidget*>(QStringLiteral("JobList"))) {
            ops->Refresh();
            if (list->topLevelItemCount() > 0) row = list->topLevelItem(0)->text(1);
          }
        return choice;
      });
      TBlocker blocker(Queue(), f_->right);
      bool sent = false;
      const auto background = QObject::connect(Window(), &fileops::TOperationForm::progressShown, [&](int) {
        if (!sent) QTimer::singleShot(0, f_->L(), [&] { QTest::keyClick(f_->L(), Qt::Key_F2); });
        sent = true;
      });
      QVERIFY(f_->Mark(f_->L(), "a.txt") && f_->Mark(f_->L(), "b.txt"));
      Script().inputs.push_back(Q(f_->right));
      QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
      QObject::disconnect(background);
      QVERIFY(sent);
      blocker.Release();
      QTRY_VERIFY(Queue().Jobs().empty());
      app::SetConflictListHandler(nullptr);
      QCOMPARE(asked, QStringList({"b.txt"}));
      QCOMPARE(row, QStringLiteral("Asking, 1 for the end"));
      QCOMPARE(ReadText(f_->right + "/a.txt"), QStringLiteral("a"));
      QCOMPARE(ReadText(f_->right + "/b.txt"), QString::fromLatin1(c.b));
      QCOMPARE(QFileInfo::exists(Q(f_->right + "/b (2).txt")), c.renamedCopy);
      if (c.renamedCopy) QCOMPARE(ReadText(f_->right + "/b (2).txt"), QStringLiteral("new b"));
      // No overwrite question stood in the way.
      QVERIFY(ShownMessages().empty());
    }
  }

  // A background job reports the items that failed at its end, unasked
  // while it ran; Retry runs them again (here once the cause is gone).
  void backgroundFailuresAreReportedWithRetry() {
    WriteText(f_->left + "/a.txt", "a");
    QVERIFY(::mkfifo((f_->left + "/pipe").c_str(), 0644) == 0);
    QVERIFY(f_->Show());
    TBlocker blocker(Queue(), f_->right);
    bool sent = false;
    const auto background = QObject::connect(Window(), &fileops::TOperationForm::progressShown, [&](int) {
      if (!sent) QTimer::singleShot(0, f_->L(), [&] { QTest::keyClick(f_->L(), Qt::Key_F2); });
      sent = true;
    });
    QVERIFY(f_->Mark(f_->L(), "a.txt") && f_->Mark(f_->L(), "pipe"));
    Script().inputs.push_back(Q(f_->right));
    Script().answers = {app::MessageAnswer::Yes};
    // Before Retry is answered, the pipe becomes a plain file.
    const std::string pipe = f_->left + "/pipe";
    Script().onShown = [pipe](const TShownMessage& m) {
      if (m.text.startsWith(QStringLiteral("Retry the"))) {
        ::unlink(pipe.c_str());
        WriteText(pipe, "now a file");
      }
    };
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    QObject::disconnect(background);
    QVERIFY(sent);
    blocker.Release();
    QTRY_VERIFY(Script().shown.size() >= 2 && Queue().Jobs().empty());
    Script().onShown = nullptr;
    QCOMPARE(Script().Texts(), QStringList({"1 items were skipped:", "Retry the 1 failed items?"}));
    QVERIFY(Script().shown[0].text.contains(QStringLiteral("pipe")));
    QCOMPARE(ReadText(f_->right + "/a.txt"), QStringLiteral("a"));
    QTRY_COMPARE(ReadText(f_->right + "/pipe"), QStringLiteral("now a file"));
  }

  // The Operations window: Ctrl+J opens it; each job with what it does and
  // its state; Move up puts a queued job first among the waiting ones, Pause
  // and Resume on the running job, Cancel removes a queued one.
  void operationsWindowControlsTheJobs() {
    QVERIFY(f_->Show());
    TBlocker running(Queue(), f_->right, "first");
    QTRY_COMPARE(running.job->State(), fileops::TJobState::Running);
    TBlocker second(Queue(), f_->right, "second");
    TBlocker third(Queue(), f_->right, "third");
    QVERIFY(f_->Press(f_->L(), Qt::Key_J, Qt::ControlModifier));
    auto* form = f_->Find<app::TOperationsForm>("OperationsForm");
    QVERIFY(form != nullptr);
    QTRY_VERIFY(form->isVisible());
    QTreeWidget* list = form->List();
    QCOMPARE(Column(list, 0), QStringList({"first", "second", "third"}));
    QCOMPARE(Column(list, 1), QStringList({"Running", "Queued", "Queued"}));
    // Move up: "third" before "second".
    list->setCurrentItem(list->topLevelItem(2));
    QVERIFY(form->UpButton()->isEnabled() && !form->DownButton()->isEnabled());
    form->UpButton()->click();
    QCOMPARE(Column(list, 0), QStringList({"first", "third", "second"}));
    QCOMPARE(list->currentItem()->text(0), QStringLiteral("third"));
    // Pause and Resume the running one.
    list->setCurrentItem(list->topLevelItem(0));
    QCOMPARE(form->PauseButton()->text(), QStringLiteral("&Pause"));
    form->PauseButton()->click();
    QCOMPARE(running.job->State(), fileops::TJobState::Paused);
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("Paused"));
    QCOMPARE(form->PauseButton()->text(), QStringLiteral("&Resume"));
    form->PauseButton()->click();
    QCOMPARE(running.job->State(), fileops::TJobState::Running);
    // Cancel the queued "second": gone from the list.
    list->setCurrentItem(list->topLevelItem(2));
    form->CancelButton()->click();
    QTRY_COMPARE(Column(list, 0), QStringList({"first", "third"}));
    QCOMPARE(second.job->State(), fileops::TJobState::Cancelled);
    // The indicator opens the same window.
    form->hide();
    QTRY_VERIFY(Indicator()->isVisible());
    Indicator()->click();
    QTRY_VERIFY(form->isVisible());
    // "third" runs once "first" ends.
    running.Release();
    QTRY_COMPARE(third.job->State(), fileops::TJobState::Running);
    third.Release();
    QTRY_VERIFY(Queue().Jobs().empty());
    QTRY_COMPARE(list->topLevelItemCount(), 0);
  }

  void rowTexts() {
    fileops::TJobProgress p;
    p.bytesDone = 3 << 20;
    p.bytesTotal = 12 << 20;
    p.itemsDone = 3;
    p.itemsTotal = 1200;
    QCOMPARE(app::TOperationsForm::ProgressText(p), QStringLiteral("25%, 3,145,728 of 12,582,912 bytes, 3 of 1,200 items"));
    p.bytesTotal = 0;
    QCOMPARE(app::TOperationsForm::ProgressText(p).left(3), QStringLiteral("0%,"));
    const struct {
      double seconds;
      const char* text;
    } left[] = {{-1, ""}, {0, "0:00"}, {0.2, "0:01"}, {59.5, "1:00"}, {3599, "59:59"}, {3600, "1:00:00"},
                {7384, "2:03:04"}};
    for (const auto& c : left) QCOMPARE(app::TOperationsForm::TimeLeftText(c.seconds), QLatin1String(c.text));
    const struct {
      double speed;
      const char* text;
    } speeds[] = {{0, ""}, {600, "1 KB/s"}, {2048, "2 KB/s"}, {1.5 * 1024 * 1024, "1.5 MB/s"}};
    for (const auto& c : speeds) QCOMPARE(app::TOperationsForm::SpeedText(c.speed), QLatin1String(c.text));
    const struct {
      fileops::TJobState state;
      bool asking;
      const char* text;
    } states[] = {{fileops::TJobState::Waiting, false, "Queued"}, {fileops::TJobState::Held, false, "Paused"},
                  {fileops::TJobState::Running, false, "Running"}, {fileops::TJobState::Paused, false, "Paused"},
                  {fileops::TJobState::Running, true, "Asking"}};
    for (const auto& c : states)
      QCOMPARE(app::TOperationsForm::StateText(c.state, c.asking), QLatin1String(c.text));
  }

 private:
  std::string FormFixtureAtCursor() const { return TFormFixture::AtCursor(f_->L()); }
};

QTEST_MAIN(JobsTest)
#include "jobs_test.moc"
