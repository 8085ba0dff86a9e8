// viewer_window_test.cpp - the viewer window offscreen: which mode a file
// opens in, big files, files that cannot be read, keys, search and go to line.
#include <sys/stat.h>

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>

#include "viewer/hex_view.h"
#include "viewer/image_view.h"
#include "viewer/text_view.h"
#include "viewer/viewer_window.h"

using namespace vantrel::viewer;
using TMode = TViewerWindow::TMode;

class ViewerWindowTest : public QObject {
  Q_OBJECT
  QTemporaryDir tmp_;

  std::string Path(const char* name) const { return tmp_.filePath(QLatin1String(name)).toStdString(); }
  std::string Write(const char* name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  // A file of `lines` numbered lines and then `last` as its last line.
  std::string WriteLog(const char* name, uint64_t bytes, const std::string& last) const {
    std::ofstream out(Path(name), std::ios::binary);
    std::string block;
    for (int i = 0; i < 1000; ++i) block += "2026-01-01 12:00:00 INFO request served in 12 ms, status 200\n";
    for (uint64_t written = 0; written + block.size() < bytes; written += block.size()) out << block;
    out << last << "\n";
    return Path(name);
  }
  static std::unique_ptr<TViewerWindow> Show(const std::string& path) {
    auto window = std::make_unique<TViewerWindow>(path);
    window->resize(640, 480);
    window->show();
    return QTest::qWaitForWindowExposed(window.get()) ? std::move(window) : nullptr;
  }

 private slots:
  void opensInTheRightMode_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("firstRow");
    QTest::newRow("text") << QByteArray("first line\nsecond\n") << int(TMode::Text) << "first line";
    QTest::newRow("tab and control") << QByteArray("a\tb\x01z, and some more text\n") << int(TMode::Text)
                                     << QStringLiteral("a       b\u00B7z, and some more text");
    QTest::newRow("binary") << QByteArray("\x00\x01\x02hello", 8) << int(TMode::Hex)
                            << "00000000  00 01 02 68 65 6C 6C 6F                           ...hello";
    QTest::newRow("empty") << QByteArray() << int(TMode::Text) << "";
    QTest::newRow("invalid utf8 as latin-1") << QByteArray("na\xEFve\n") << int(TMode::Text) << QStringLiteral("na\u00EFve");
  }
  void opensInTheRightMode() {
    QFETCH(QByteArray, bytes);
    const auto window = Show(Write("mode", std::string(bytes.constData(), static_cast<size_t>(bytes.size()))));
    QVERIFY(window);
    QVERIFY(window->ErrorText().isEmpty());
    QFETCH(int, mode);
    QFETCH(QString, firstRow);
    QCOMPARE(int(window->Mode()), mode);
    const QStringList rows = window->Mode() == TMode::Hex ? window->HexView()->VisibleRows()
                                                         : window->TextView()->VisibleRows();
    QCOMPARE(rows.value(0), firstRow);
    QVERIFY(window->windowTitle().startsWith(QLatin1String("mode")));
  }

  void imagesFitAndShowTheirOriginalSize() {
    QImage image(2000, 1000, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(QString::fromStdString(Path("picture.dat")), "PNG"));  // known by content
    const auto window = Show(Path("picture.dat"));
    QVERIFY(window);
    QCOMPARE(int(window->Mode()), int(TMode::Image));
    const QRect fitted = window->ImageView()->ImageRect();
    QVERIFY(fitted.width() <= window->ImageView()->viewport()->width());
    QCOMPARE(fitted.width() / 2, fitted.height() / 1 / 1 * 1);  // aspect kept: 2:1
    QTest::keyClick(window.get(), Qt::Key_1);
    QCOMPARE(window->ImageView()->ImageRect().size(), QSize(2000, 1000));
    QTest::keyClick(window.get(), Qt::Key_F4);
    QCOMPARE(int(window->Mode()), int(TMode::Hex));
    QVERIFY(window->HexView()->VisibleRows().value(0).contains(QLatin1String("89 50 4E 47")));
  }

  void unreadableFilesSayWhy_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("directory") << "dir" << "It is a directory";
    QTest::newRow("fifo") << "fifo" << "It is a FIFO";
    QTest::newRow("vanished") << "gone" << "No such file or directory";
  }
  void unreadableFilesSayWhy() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const std::string path = Path(kind.toLatin1().constData());
    if (kind == "dir") QDir().mkpath(QString::fromStdString(path));
    if (kind == "fifo") QVERIFY(mkfifo(path.c_str(), 0600) == 0 || errno == EEXIST);
    const auto window = Show(path);
    QVERIFY(window);
    QVERIFY2(window->ErrorText().contains(reason), qPrintable(window->ErrorText()));
    QVERIFY(window->ErrorText().contains(kind));
    // Every closing key still works.
    QTest::keyClick(window.get(), Qt::Key_F3);
    QVERIFY(!window->isVisible());
  }

  void closingKeys_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("F10") << int(Qt::Key_F10);
    QTest::newRow("F3 without a search") << int(Qt::Key_F3);
  }
  void closingKeys() {
    const auto window = Show(Write("close.txt", "text\n"));
    QVERIFY(window);
    QFETCH(int, key);
    QTest::keyClick(window.get(), static_cast<Qt::Key>(key));
    QVERIFY(!window->isVisible());
  }

  // With a search active, F3 finds the next hit and Shift+F3 the previous one.
  void f3FindsNextWhileSearching() {
    std::string text;
    for (int i = 0; i < 200; ++i) text += i % 50 == 10 ? "here is a Needle\n" : "filler line\n";
    const auto window = Show(Write("hits.txt", text));
    QVERIFY(window);
    window->Find(QStringLiteral("needle"), false, false);
    QTRY_VERIFY(!window->Searching());
    QVERIFY(window->Hit());
    const uint64_t first = window->Hit()->offset;
    QCOMPARE(window->Document().LineNumberAt(first), 11u);
    QTest::keyClick(window.get(), Qt::Key_F3);
    QTRY_VERIFY(!window->Searching());
    QVERIFY(window->isVisible());
    QCOMPARE(window->Document().LineNumberAt(window->Hit()->offset), 61u);
    QTest::keyClick(window.get(), Qt::Key_F3, Qt::ShiftModifier);
    QTRY_VERIFY(!window->Searching());
    QCOMPARE(window->Hit()->offset, first);
    QTRY_VERIFY(window->StatusText().startsWith(QLatin1String("Line 11 of 200")));
    // Past the last hit the hit stays and the status says so.
    window->Find(QStringLiteral("needle"), false, true);
    QTRY_VERIFY(!window->Searching());
    QVERIFY(window->StatusText().contains(QLatin1String("Not found")));
  }

  void viewKeys() {
    const auto window = Show(Write("keys.txt", std::string(500, 'w') + "\n\xCF\xF0\xE8\n"));
    QVERIFY(window);
    QCOMPARE(int(window->Document().Encoding()), int(TEncoding::Latin1));
    QTest::keyClick(window.get(), Qt::Key_F2);
    QVERIFY(window->TextView()->Wrap());
    QVERIFY(window->TextView()->VisibleRows().size() > 2);  // the long line wraps
    QTest::keyClick(window.get(), Qt::Key_F8);  // the next one: CP1251
    QCOMPARE(int(window->Document().Encoding()), int(TEncoding::Cp1251));
    QVERIFY(window->TextView()->VisibleRows().contains(QStringLiteral("При")));
    QTest::keyClick(window.get(), Qt::Key_F4);
    QCOMPARE(int(window->Mode()), int(TMode::Hex));
    QTest::keyClick(window.get(), Qt::Key_F4);
    QCOMPARE(int(window->Mode()), int(TMode::Text));
  }

  void goToLine() {
    std::string text;
    for (int i = 1; i <= 5000; ++i) text += "row " + std::to_string(i) + "\n";
    const auto window = Show(Write("goto.txt", text));
    QVERIFY(window);
    window->GoToLine(1234);
    QCOMPARE(window->TextView()->VisibleRows().value(0), QStringLiteral("row 1234"));
    window->GoToLine(999999);
    QCOMPARE(window->TextView()->VisibleRows().last(), QStringLiteral("row 5000"));
    QVERIFY(window->TextView()->AtEnd());
  }

  // A 100 MB log: the first screen, the end, and a word on the last line.
  void bigFile() {
    const auto window = Show(WriteLog("big.log", 100u << 20, "the last line says goodbye"));
    QVERIFY(window);
    QVERIFY(window->TextView()->VisibleRows().value(0).startsWith(QLatin1String("2026-01-01")));
    QTest::keyClick(window->TextView(), Qt::Key_End);
    QCOMPARE(window->TextView()->VisibleRows().last(), QStringLiteral("the last line says goodbye"));
    QTest::keyClick(window->TextView(), Qt::Key_Home);
    window->Find(QStringLiteral("GOODBYE"), false, false);
    QTRY_VERIFY_WITH_TIMEOUT(!window->Searching(), 60000);
    QVERIFY(window->Hit());
    QCOMPARE(window->Hit()->offset + 8, window->Document().Size());  // "goodbye\n" ends the file
    QVERIFY(window->TextView()->VisibleRows().contains(QStringLiteral("the last line says goodbye")));
  }

  // 50 MB without a line feed: pieces keep every step short.
  void fileWithoutNewlines() {
    const auto window = Show(Write("oneline.txt", std::string(50u << 20, 'z') + "END"));
    QVERIFY(window);
    QCOMPARE(window->TextView()->VisibleRows().value(0).size(), qsizetype(TViewDocument::kPieceBytes));
    QTest::keyClick(window->TextView(), Qt::Key_End);
    const QStringList rows = window->TextView()->VisibleRows();
    QCOMPARE(rows.last(), QStringLiteral("END"));
    QVERIFY(rows.value(rows.size() - 2).endsWith(QLatin1String("zzz")));
    QTest::keyClick(window.get(), Qt::Key_F2);
    QTest::keyClick(window->TextView(), Qt::Key_End);
    QVERIFY(window->TextView()->VisibleRows().last().endsWith(QLatin1String("END")));
    QTest::keyClick(window->TextView(), Qt::Key_PageUp);
    QVERIFY(!window->TextView()->AtEnd());
  }
};

QTEST_MAIN(ViewerWindowTest)
#include "viewer_window_test.moc"
