// settings_test.cpp - "vantrel.ini" read into the real main window and
// written back when it closes: defaults, order, colours, bad values, the
// maximised window and a file that cannot be written.
#include <QCoreApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "app/mainform.h"
#include "app/settings.h"
#include "gui_test_support.h"
#include "platform/fs.h"
#include "platform/qt/colors.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TMainForm;

class SettingsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::string startDir_;

  std::string Ini() const { return Std(tmp_.filePath(QStringLiteral("vantrel.ini"))); }
  std::string Dir(const char* name) const {
    const std::string path = Std(tmp_.filePath(QLatin1String(name)));
    QDir().mkpath(QString::fromStdString(path));
    return path;
  }
  std::unique_ptr<TMainForm> Open() { return std::make_unique<TMainForm>(Ini()); }
  QString Saved() const { return ReadText(Ini()); }

 private slots:
  void init() {
    QVERIFY(tmp_.isValid());
    QFile::remove(QString::fromStdString(Ini()));
    InstallRecorder();
    startDir_ = platform::GetCurrentDir();
  }
  void cleanup() { platform::SetCurrentDir(startDir_); }

  void noFileGivesTheDefaults() {
    auto form = Open();
    QCOMPARE(form->EditorCommand, std::string("notepad.exe"));
    QCOMPARE(form->ViewerCommand,
             Std(QCoreApplication::applicationDirPath()) + "/vnview");
    QCOMPARE(form->LanguageFile, std::string());
    QCOMPARE(form->LeftFMPanel()->Directory(), startDir_);
    QCOMPARE(form->RightFMPanel()->Directory(), startDir_);
    QCOMPARE(form->x(), 20);
    QCOMPARE(form->y(), 20);
    QCOMPARE(form->width(), 600);
    QCOMPARE(form->height(), 400);
    QVERIFY(!form->isMaximized());
    QCOMPARE(form->LeftWidth(), 300);
    for (panels::TFMPanel* panel : {form->LeftFMPanel(), form->RightFMPanel()}) {
      // Widths the file does not name fit the texts in the panel's font (the
      // layout's 50 for the size does not survive).
      const panels::TFMPanel::TColumnWidths fit = panel->FittingColumnWidths();
      QCOMPARE(panel->NameWidth(), 120);
      QCOMPARE(panel->ExtWidth(), fit.ext);
      QCOMPARE(panel->SizeWidth(), fit.size);
      QCOMPARE(panel->DateWidth(), fit.date);
      QCOMPARE(panel->TimeWidth(), fit.time);
      QCOMPARE(panel->SortType(), uint8_t{0});
      QCOMPARE(panel->font().pointSize(), 10);
      QCOMPARE(panel->font().family(), QStringLiteral("MS Sans Serif"));
      QCOMPARE(panel->Color(), platform::clWindow);
      QCOMPARE(panel->CursorColor(), platform::clWindow);
      QCOMPARE(panel->FileColor(), platform::clWindowText);
      QCOMPARE(panel->SelectedColor(), platform::clRed);
      QCOMPARE(panel->CurrentColor(), platform::clWindowText);
      QCOMPARE(panel->CurSelColor(), platform::clRed);
    }
    QVERIFY(ShownMessages().empty());
  }

  void closeWritesEveryKeyInOrder() {
    auto form = Open();
    QVERIFY(form->close());
    const QString text = Saved();
    QCOMPARE(KeysOf(SectionLines(text, QStringLiteral("GENERAL"))),
             QStringList({"Editor", "Viewer", "LeftPath", "RightPath", "Top", "Left", "Width",
                          "Height", "LeftWidth", "LanguageFile"}));
    const QStringList general = SectionLines(text, QStringLiteral("GENERAL"));
    QVERIFY(general.contains(QStringLiteral("Editor=notepad.exe")));
    QVERIFY(general.contains(QStringLiteral("LeftPath=") + QString::fromStdString(startDir_)));
    QVERIFY(general.contains(QStringLiteral("Top=20")));
    QVERIFY(general.contains(QStringLiteral("Width=600")));
    QVERIFY(general.contains(QStringLiteral("LeftWidth=300")));
    QCOMPARE(SectionLines(text, QStringLiteral("FONT")),
             QStringList({"Size=10", "Name=MS Sans Serif"}));
    // System colours are written as negative decimal numbers, red as 255.
    QCOMPARE(SectionLines(text, QStringLiteral("COLOR")),
             QStringList({"Back=-2147483643", "Cursor=-2147483643", "File=-2147483640",
                          "Selected=255", "Current=-2147483640", "CurSel=255"}));
    const panels::TFMPanel::TColumnWidths fit = form->LeftFMPanel()->FittingColumnWidths();
    for (const char* section : {"LEFT PANEL", "RIGHT PANEL"})
      QCOMPARE(SectionLines(text, QLatin1String(section)),
               QStringList({"NameWidth=120", QStringLiteral("ExtWidth=%1").arg(fit.ext),
                            QStringLiteral("SizeWidth=%1").arg(fit.size),
                            QStringLiteral("DateWidth=%1").arg(fit.date),
                            QStringLiteral("TimeWidth=%1").arg(fit.time), "SortType=0", "SortDescending=0"}));
  }

  void valuesRoundTrip() {
    const std::string left = Dir("left"), right = Dir("right");
    WriteText(Ini(), "[general]\nEDITOR=vi\nViewer=less -R\nLanguageFile=de.lng\n"
                     "LeftPath=" + left + "\nRightPath=" + right + "\n"
                     "Top=33\nLeft=44\nWidth=777\nHeight=555\nLeftWidth=$140\n"
                     "[Font]\nSize=12\nName=DejaVu Sans\n"
                     "[color]\nBack=0x00FF00\nCursor=16711680\nFile=0\nSelected=-2147483643\n"
                     "Current=0x123456\nCurSel=-2147483640\n"
                     "[LEFT PANEL]\nNameWidth=200\nExtWidth=40\nSizeWidth=90\nDateWidth=80\n"
                     "TimeWidth=50\nSortType=2\nSortDescending=1\n"
                     "[RIGHT PANEL]\nNameWidth=150\nSortType=4\n");
    auto form = Open();
    QCOMPARE(form->EditorCommand, std::string("vi"));
    QCOMPARE(form->ViewerCommand, std::string("less -R"));
    QCOMPARE(form->LanguageFile, std::string("de.lng"));
    QCOMPARE(form->LeftFMPanel()->Directory(), left);
    QCOMPARE(form->RightFMPanel()->Directory(), right);
    QCOMPARE(form->pos(), QPoint(44, 33));
    QCOMPARE(form->size(), QSize(777, 555));
    QCOMPARE(form->LeftWidth(), 0x140);
    QCOMPARE(form->RightFMPanel()->font().pointSize(), 12);
    QCOMPARE(form->RightFMPanel()->font().family(), QStringLiteral("DejaVu Sans"));
    // A hand-written hexadecimal green reads as green on both panels.
    QCOMPARE(form->LeftFMPanel()->Color(), platform::TColor{0x00FF00});
    QCOMPARE(form->RightFMPanel()->Color(), platform::TColor{0x00FF00});
    QCOMPARE(platform::ColorToQColor(form->RightFMPanel()->Color()), QColor(0, 255, 0));
    QCOMPARE(form->RightFMPanel()->CursorColor(), platform::clBlue);
    QCOMPARE(form->RightFMPanel()->SelectedColor(), platform::clWindow);
    QCOMPARE(form->LeftFMPanel()->SortType(), uint8_t{2});
    QVERIFY(form->LeftFMPanel()->Model().SortDescending());
    QVERIFY(!form->RightFMPanel()->Model().SortDescending());
    QCOMPARE(form->LeftFMPanel()->TimeWidth(), 50);
    QCOMPARE(form->RightFMPanel()->SortType(), uint8_t{4});
    QCOMPARE(form->RightFMPanel()->NameWidth(), 150);
    QCOMPARE(form->RightFMPanel()->ExtWidth(), form->RightFMPanel()->FittingColumnWidths().ext);
    QList<int> header;
    for (int i = 0; i < 5; ++i) header << form->Left().Header->sectionSize(i);
    QCOMPARE(header, QList<int>({200, 40, 90, 80, 50}));

    QVERIFY(form->close());
    const QString text = Saved();
    const QStringList general = SectionLines(text, QStringLiteral("GENERAL"));
    QVERIFY(general.contains(QStringLiteral("Viewer=less -R")));
    QVERIFY(general.contains(QStringLiteral("LeftWidth=320")));
    QVERIFY(general.contains(QStringLiteral("Height=555")));
    QVERIFY(SectionLines(text, QStringLiteral("COLOR")).contains(QStringLiteral("Back=65280")));
    QVERIFY(SectionLines(text, QStringLiteral("COLOR")).contains(QStringLiteral("Current=1193046")));
    QVERIFY(SectionLines(text, QStringLiteral("RIGHT PANEL")).contains(QStringLiteral("SortType=4")));
    QVERIFY(SectionLines(text, QStringLiteral("FONT")).contains(QStringLiteral("Size=12")));
  }

  void missingRightPathFollowsTheLeftPanel() {
    const std::string left = Dir("only-left");
    WriteText(Ini(), "[GENERAL]\nLeftPath=" + left + "\n");
    auto form = Open();
    QCOMPARE(form->LeftFMPanel()->Directory(), left);
    QCOMPARE(form->RightFMPanel()->Directory(), left);
  }

  void unenterableDirectoryGivesTheStartDirectoryWithoutMessage() {
    const std::string right = Dir("present");
    WriteText(Ini(), "[GENERAL]\nLeftPath=" + Std(tmp_.path()) + "/removed/long/ago\n"
                     "RightPath=" + right + "\n");
    auto form = Open();
    QCOMPARE(form->LeftFMPanel()->Directory(), startDir_);
    QCOMPARE(form->RightFMPanel()->Directory(), right);
    QVERIFY(ShownMessages().empty());
  }

  void unknownSortTypeKeepsNameOrderAndSavesZero() {
    const std::string dir = Dir("sorted");
    MakeFile(dir + "/b-small", 1);
    MakeFile(dir + "/a-big", 5000);
    WriteText(Ini(), "[GENERAL]\nLeftPath=" + dir + "\nRightPath=" + dir +
                         "\n[LEFT PANEL]\nSortType=7\n[RIGHT PANEL]\nSortType=2\n");
    auto form = Open();
    const auto& left = form->LeftFMPanel()->Entries();
    QCOMPARE(form->LeftFMPanel()->SortType(), uint8_t{0});
    QCOMPARE(left.size(), size_t{3});
    QCOMPARE(left[1]->FileName, std::string("a-big"));
    QCOMPARE(left[2]->FileName, std::string("b-small"));
    // The right panel does take its size order: the big file first.
    QCOMPARE(form->RightFMPanel()->Entries()[1]->FileName, std::string("a-big"));
    QVERIFY(form->close());
    QVERIFY(SectionLines(Saved(), QStringLiteral("LEFT PANEL")).contains(QStringLiteral("SortType=0")));
  }

  void maximisedWritesOnlyHeightZero() {
    WriteText(Ini(), "[GENERAL]\nTop=5\nLeft=6\nWidth=700\nHeight=500\n");
    {
      auto form = Open();
      form->show();
      form->setWindowState(Qt::WindowMaximized);
      QVERIFY(form->isMaximized());
      QVERIFY(form->close());
    }
    const QStringList general = SectionLines(Saved(), QStringLiteral("GENERAL"));
    QVERIFY(general.contains(QStringLiteral("Height=0")));
    QVERIFY(general.contains(QStringLiteral("Top=5")));
    QVERIFY(general.contains(QStringLiteral("Left=6")));
    QVERIFY(general.contains(QStringLiteral("Width=700")));
    // The next start is maximised.
    auto again = Open();
    QVERIFY(again->windowState() & Qt::WindowMaximized);
  }

  void badValuesFallBackToDefaults() {
    WriteText(Ini(), "[GENERAL]\nHeight=-40\nWidth=banana\nLeftWidth=-5\n[FONT]\nSize=0\n"
                     "[LEFT PANEL]\nNameWidth=-3\nSortType=-1\n[COLOR]\nBack=0xZZ\n");
    auto form = Open();
    QCOMPARE(form->height(), 400);
    QCOMPARE(form->width(), 600);
    QCOMPARE(form->LeftWidth(), 300);
    QCOMPARE(form->LeftFMPanel()->font().pointSize(), 10);
    QCOMPARE(form->LeftFMPanel()->NameWidth(), 120);
    QCOMPARE(form->LeftFMPanel()->SortType(), uint8_t{0});
    QCOMPARE(form->LeftFMPanel()->Color(), platform::clWindow);
  }

  void garbageFileStartsWithDefaults() {
    std::string garbage;
    for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>((i * 7919) % 256));
    garbage += "\n[GENERAL]\nEditor=" + std::string(5000, 'e') + "\n[GENERAL]\nEditor=second\n";
    WriteText(Ini(), garbage);
    auto form = Open();
    QVERIFY(form->EditorCommand.size() <= 2047);
    QCOMPARE(form->LeftFMPanel()->Directory(), startDir_);
    QVERIFY(form->close());
  }

  void unwritableFileIsReportedAndTheWindowStillCloses() {
    // A settings path below a plain file can never be written, not even by root.
    const std::string blocker = Std(tmp_.filePath(QStringLiteral("plain-file")));
    MakeFile(blocker, 3);
    const std::string ini = blocker + "/vantrel.ini";
    auto form = std::make_unique<TMainForm>(ini);
    form->show();
    QVERIFY(form->close());
    QVERIFY(!form->isVisible());
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].kind, app::MessageKind::Error);
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("Unable to write to ") + QString::fromStdString(ini));
  }
};

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"
