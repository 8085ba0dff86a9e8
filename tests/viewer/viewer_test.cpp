// viewer_test.cpp - the viewer: its document without a window (encodings,
// line starts found forwards and backwards, line numbers, search) and the
// window offscreen (which mode a file opens in, big files, files that cannot
// be read, keys, search and go to line).
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>
#include <random>

#include "viewer/document.h"
#include "viewer/hex_view.h"
#include "viewer/image_view.h"
#include "viewer/text_view.h"
#include "viewer/viewer_window.h"

using namespace vantrel::viewer;
using TMode = TViewerWindow::TMode;

namespace {

QByteArray B(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QByteArray& b) { return std::string(b.constData(), static_cast<size_t>(b.size())); }

std::string Utf16LE(const QString& text, bool bom) {
  std::string out = bom ? "\xFF\xFE" : "";
  for (QChar c : text) {
    out += static_cast<char>(c.unicode() & 0xFF);
    out += static_cast<char>(c.unicode() >> 8);
  }
  return out;
}

}  // namespace

class ViewerTest : public QObject {
  Q_OBJECT
  QTemporaryDir tmp_;

  std::string Path(const char* name) const { return tmp_.filePath(QLatin1String(name)).toStdString(); }
  std::string Write(const char* name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  static std::unique_ptr<TViewerWindow> Show(const std::string& path) {
    auto window = std::make_unique<TViewerWindow>(path);
    window->resize(640, 480);
    window->show();
    return QTest::qWaitForWindowExposed(window.get()) ? std::move(window) : nullptr;
  }

 private slots:
  void detection_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("bom");
    QTest::addColumn<bool>("binary");
    QTest::newRow("ascii") << QByteArray("hello\nworld\n") << true << int(TEncoding::Utf8) << 0 << false;
    QTest::newRow("utf8") << QByteArray("gr\xC3\xBC\xC3\x9F") << true << int(TEncoding::Utf8) << 0 << false;
    QTest::newRow("utf8 bom") << QByteArray("\xEF\xBB\xBFx") << true << int(TEncoding::Utf8) << 3 << false;
    QTest::newRow("utf16le bom") << QByteArray("\xFF\xFEh\0i\0", 6) << true << int(TEncoding::Utf16LE) << 2 << false;
    QTest::newRow("utf16be bom") << QByteArray("\xFE\xFF\0h\0i", 6) << true << int(TEncoding::Utf16BE) << 2 << false;
    QTest::newRow("utf8 cut by the sample") << QByteArray("ab\xC3") << false << int(TEncoding::Utf8) << 0 << false;
    QTest::newRow("utf8 cut at the end of the file") << QByteArray("ab\xC3") << true << int(TEncoding::Latin1) << 0 << false;
    QTest::newRow("invalid utf8") << QByteArray("caf\xE9 au lait") << true << int(TEncoding::Latin1) << 0 << false;
    QTest::newRow("nul byte") << QByteArray("ab\0cd", 5) << true << int(TEncoding::Latin1) << 0 << true;
    QTest::newRow("control bytes") << QByteArray("\x01\x02\x03\x04xyz") << true << int(TEncoding::Latin1) << 0 << true;
    QTest::newRow("escape colours") << QByteArray("\x1b[31mred\x1b[0m\n") << true << int(TEncoding::Utf8) << 0 << false;
    QTest::newRow("empty") << QByteArray() << true << int(TEncoding::Utf8) << 0 << false;
  }
  void detection() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, complete);
    const TDetection d = DetectEncoding(S(bytes), complete);
    QFETCH(int, encoding);
    QFETCH(int, bom);
    QFETCH(bool, binary);
    QCOMPARE(int(d.encoding), encoding);
    QCOMPARE(int(d.bomBytes), bom);
    QCOMPARE(d.binary, binary);
  }

  void decoding_data() {
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("utf8 invalid bytes one each") << int(TEncoding::Utf8) << QByteArray("a\xFF\xC3(\xE2\x82") << QStringLiteral("a\uFFFD\uFFFD(\uFFFD\uFFFD");
    QTest::newRow("utf8 astral") << int(TEncoding::Utf8) << QByteArray("\xF0\x9F\x98\x80!") << QString::fromUtf8("\xF0\x9F\x98\x80!");
    QTest::newRow("utf8 surrogate bytes") << int(TEncoding::Utf8) << QByteArray("\xED\xA0\x80") << QStringLiteral("\uFFFD\uFFFD\uFFFD");
    QTest::newRow("utf16le odd byte") << int(TEncoding::Utf16LE) << QByteArray("h\0i", 3) << QStringLiteral("h\uFFFD");
    QTest::newRow("utf16be") << int(TEncoding::Utf16BE) << QByteArray("\x04\x1F\0!", 4) << QStringLiteral("\u041F!");
    QTest::newRow("latin1") << int(TEncoding::Latin1) << QByteArray("caf\xE9") << QStringLiteral("caf\u00E9");
    QTest::newRow("cp1251") << int(TEncoding::Cp1251) << QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2") << QStringLiteral("Привет");
    QTest::newRow("cp866") << int(TEncoding::Cp866) << QByteArray("\x8F\xE0\xA8\xA2\xA5\xE2") << QStringLiteral("Привет");
    QTest::newRow("cp437") << int(TEncoding::Cp437) << QByteArray("\xC9\xCD\xBB\x81") << QStringLiteral("╔═╗ü");
  }
  void decoding() {
    QFETCH(int, encoding);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const TEncoding e = static_cast<TEncoding>(encoding);
    QCOMPARE(Decode(e, S(bytes)), text);
    // Every prefix of the text maps back to the bytes that made it.
    for (qsizetype units = 0; units <= text.size(); ++units) {
      const size_t bytesUsed = BytesForUnits(e, S(bytes), units);
      const QString prefix = Decode(e, S(bytes).substr(0, bytesUsed));
      QVERIFY2(prefix == text.left(prefix.size()) && prefix.size() >= std::min(units, text.size()),
               qPrintable(QStringLiteral("%1 units").arg(units)));
    }
  }

  // Lines found forwards and backwards agree, pieces stay short, and the
  // lines put together give the text back.
  void lineStartsAgree_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("encoding");
    std::mt19937 rng(7);
    std::string mixed;
    for (int i = 0; i < 3000; ++i) {
      const int r = static_cast<int>(rng() % 20);
      mixed += r == 0 ? "\n" : r == 1 ? "\r\n" : r < 4 ? "\xC3\xA9" : r == 4 ? "\xF0\x9F\x98\x80" : r == 5 ? "\xFF" : "x";
    }
    QTest::newRow("mixed utf8") << B(mixed) << int(TEncoding::Utf8);
    QTest::newRow("one long line") << B(std::string(1000, 'a')) << int(TEncoding::Utf8);
    QTest::newRow("long line of two-byte chars") << B([] { std::string s; for (int i = 0; i < 400; ++i) s += "\xD0\x96"; return s; }()) << int(TEncoding::Utf8);
    QTest::newRow("newline at a boundary") << B(std::string(16, 'a') + "\n" + std::string(47, 'b') + "\n\n") << int(TEncoding::Utf8);
    QTest::newRow("only newlines") << B(std::string(100, '\n')) << int(TEncoding::Utf8);
    QTest::newRow("no final newline") << B("one\ntwo\nthree") << int(TEncoding::Utf8);
    QTest::newRow("empty") << QByteArray() << int(TEncoding::Utf8);
    QTest::newRow("utf16le with bom") << B(Utf16LE(QStringLiteral("ab\ncd\n") + QString(70, QChar(0x4E2D)) + QStringLiteral("\n😀😀😀😀😀😀😀😀😀😀\nz"), true)) << int(TEncoding::Utf16LE);
  }
  void lineStartsAgree() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, encoding);
    const std::string path = Write("lines", S(bytes));
    constexpr uint32_t kPiece = 16;
    TViewDocument doc(kPiece);
    QVERIFY(doc.Open(path));
    doc.SetEncoding(static_cast<TEncoding>(encoding));  // invalid bytes stay UTF-8 here
    std::vector<uint64_t> starts;
    for (uint64_t s = doc.TextStart(); s < doc.Size() || starts.empty(); s = doc.NextLineStart(s)) {
      starts.push_back(s);
      if (s >= doc.Size()) break;
      QVERIFY2(doc.NextLineStart(s) - s <= 2 * kPiece + 8, qPrintable(QString::number(s)));
    }
    for (size_t i = 1; i < starts.size(); ++i) QCOMPARE(doc.PrevLineStart(starts[i]), starts[i - 1]);
    QCOMPARE(doc.LastLineStart(), starts.back());
    size_t k = 0;
    for (uint64_t p = doc.TextStart(); p < doc.Size(); ++p) {
      while (k + 1 < starts.size() && starts[k + 1] <= p) ++k;
      QVERIFY2(doc.LineStartAt(p) == starts[k], qPrintable(QStringLiteral("at %1").arg(p)));
    }
    // Pieces of a line joined, and lines joined with line feeds, are the text.
    QString joined;
    for (size_t i = 0; i < starts.size(); ++i) {
      const uint64_t end = i + 1 < starts.size() ? starts[i + 1] : doc.Size();
      joined += doc.LineText(starts[i], end);
      if (doc.Bytes(starts[i], end).find('\n') != std::string_view::npos) joined += QLatin1Char('\n');
    }
    QString whole = Decode(doc.Encoding(), doc.Bytes(doc.TextStart(), doc.Size()));
    whole.remove(QLatin1Char('\r'));
    joined.remove(QLatin1Char('\r'));
    QCOMPARE(joined, whole);
  }

  void lineNumbers() {
    std::string text;
    for (int i = 1; i <= 300000; ++i) text += "line " + std::to_string(i) + (i % 7 ? "\n" : "\r\n");
    const std::string path = Write("numbers", text + "tail");
    TViewDocument doc;
    QVERIFY(doc.Open(path));
    doc.StartLineCount();
    for (uint64_t line : {1ull, 2ull, 1000ull, 123457ull, 300000ull, 300001ull}) {
      const uint64_t offset = doc.OffsetOfLine(line);
      QCOMPARE(doc.LineText(offset, doc.NextLineStart(offset)),
               line <= 300000 ? QStringLiteral("line %1").arg(line) : QStringLiteral("tail"));
      QTRY_COMPARE(doc.LineNumberAt(offset), line);
    }
    QCOMPARE(doc.OffsetOfLine(999999999), doc.LastLineStart());
    QTRY_COMPARE(doc.LineCount(), 300001ull);
  }

  void search_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("backwards");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<qlonglong>("from");
    QTest::addColumn<qlonglong>("offset");  // -1: not found
    QTest::addColumn<qlonglong>("length");
    const QByteArray text("Alpha beta ALPHA gamma alpha");
    QTest::newRow("first, any case") << text << "alpha" << false << false << 0ll << 0ll << 5ll;
    QTest::newRow("next after the first") << text << "alpha" << false << false << 1ll << 11ll << 5ll;
    QTest::newRow("case sensitive") << text << "alpha" << false << true << 0ll << 23ll << 5ll;
    QTest::newRow("backwards from the end") << text << "ALPHA" << true << false << 28ll << 23ll << 5ll;
    QTest::newRow("backwards before a hit") << text << "alpha" << true << false << 23ll << 11ll << 5ll;
    QTest::newRow("backwards, none before") << text << "alpha" << true << false << 0ll << -1ll << 0ll;
    QTest::newRow("absent") << text << "delta" << false << false << 0ll << -1ll << 0ll;
    QTest::newRow("utf8 bytes") << QByteArray("caf\xC3\xA9 CAF\xC3\x89") << QStringLiteral("café") << false << false << 1ll << 6ll << 5ll;
    QTest::newRow("cp1251 cyrillic any case") << QByteArray("\xEC\xE8\xF0 \xCC\xC8\xD0") << QStringLiteral("МИР") << false << false << 0ll << 0ll << 3ll;
    // A hit across the 4 MiB chunk boundary, forwards and backwards.
    QByteArray big(4 * 1024 * 1024 + 100, 'x');
    big.replace(4 * 1024 * 1024 - 3, 6, "needle");
    QTest::newRow("across chunks") << big << "NEEDLE" << false << false << 0ll << qlonglong(4 * 1024 * 1024 - 3) << 6ll;
    const QByteArray utf16 = B(Utf16LE(QStringLiteral("one Two three two"), true));
    QTest::newRow("utf16 any case") << utf16 << "two" << false << false << 0ll << 10ll << 6ll;
    QTest::newRow("utf16 backwards") << utf16 << "two" << true << false << qlonglong(utf16.size()) << 30ll << 6ll;
    QTest::newRow("across chunks backwards") << big << "needle" << true << false << qlonglong(big.size()) << qlonglong(4 * 1024 * 1024 - 3) << 6ll;
  }
  void search() {
    QFETCH(QByteArray, bytes);
    const std::string path = Write("search", S(bytes));
    TViewDocument doc;
    QVERIFY(doc.Open(path));
    if (!bytes.startsWith("caf") && bytes.contains('\xEC')) doc.SetEncoding(TEncoding::Cp1251);
    QFETCH(QString, pattern);
    QFETCH(bool, backwards);
    QFETCH(bool, caseSensitive);
    QFETCH(qlonglong, from);
    QFETCH(qlonglong, offset);
    QFETCH(qlonglong, length);
    const auto hit = doc.Find({pattern, backwards, caseSensitive, static_cast<uint64_t>(from)});
    QCOMPARE(hit.has_value(), offset >= 0);
    if (hit) {
      QCOMPARE(qlonglong(hit->offset), offset);
      QCOMPARE(qlonglong(hit->length), length);
    }
  }

  // The document's reason, which the window shows; every closing key works.
  void unreadableFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("directory") << "dir" << "It is a directory";
    QTest::newRow("fifo") << "fifo" << "It is a FIFO, not a regular file";
    QTest::newRow("vanished") << "missing" << "No such file or directory";
  }
  void unreadableFiles() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const std::string path = Path(kind.toLatin1().constData());
    if (kind == "dir") QVERIFY(QDir().mkpath(QString::fromStdString(path)));
    if (kind == "fifo") QVERIFY(mkfifo(path.c_str(), 0600) == 0 || errno == EEXIST);
    TViewDocument doc;
    std::string error;
    QVERIFY(!doc.Open(path, &error));  // returns at once: a FIFO without a writer never blocks
    QCOMPARE(QString::fromStdString(error), reason);
    const auto window = Show(path);
    QVERIFY(window);
    QVERIFY2(window->ErrorText().contains(reason) && window->ErrorText().contains(kind),
             qPrintable(window->ErrorText()));
    QTest::keyClick(window.get(), Qt::Key_F3);
    QVERIFY(!window->isVisible());
  }

  // A file cut short while it is shown: reads come back short, nothing breaks.
  void fileThatShrinks() {
    const std::string path = Write("shrinks", std::string(200000, 'a') + "\nlast\n");
    TViewDocument doc(64);
    QVERIFY(doc.Open(path));
    QVERIFY(::truncate(path.c_str(), 1000) == 0);
    const uint64_t last = doc.LastLineStart();
    QVERIFY(last <= doc.Size());
    const QString text = doc.LineText(last, doc.NextLineStart(last));
    QVERIFY(text.size() <= 2 * 64 + 8 && text.count(QLatin1Char('a')) == text.size());
    QVERIFY(doc.LineStartAt(500) <= 500);
    QVERIFY(!doc.Find({QStringLiteral("last"), false, false, 0}));
  }

  // A file the kernel reports as empty but which has contents when read.
  void unsizedFile() {
    TViewDocument doc;
    QVERIFY(doc.Open("/proc/self/status"));
    QVERIFY(doc.Size() > 0);
    QVERIFY(doc.LineText(0, doc.NextLineStart(0)).startsWith(QLatin1String("Name:")));
  }
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
    QCOMPARE(fitted.width() / 2, fitted.height());  // aspect kept: 2:1
    QTest::keyClick(window.get(), Qt::Key_1);
    QCOMPARE(window->ImageView()->ImageRect().size(), QSize(2000, 1000));
    QTest::keyClick(window.get(), Qt::Key_F4);
    QCOMPARE(int(window->Mode()), int(TMode::Hex));
    QVERIFY(window->HexView()->VisibleRows().value(0).contains(QLatin1String("89 50 4E 47")));
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

QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
