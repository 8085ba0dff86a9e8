// viewer_test.cpp - the viewer: its document without a window (encodings,
// line starts found forwards and backwards, search) and the window offscreen
// (which mode a file opens in, big files, files that cannot be read, keys,
// search and go to line).
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QPalette>

#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "viewer/document.h"
#include "viewer/hex_view.h"
#include "viewer/text_view.h"
#include "viewer/viewer_window.h"
#include "platform/qt/language_words.h"

using namespace vantrel::viewer;
using TMode = TViewerWindow::TMode;

namespace {

QByteArray B(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QByteArray& b) { return std::string(b.constData(), static_cast<size_t>(b.size())); }

std::string Utf16LE(const QString& text, bool bom) {
  std::string out = bom ? "\xFF\xFE" : "";
  for (QChar c : text) out += {static_cast<char>(c.unicode() & 0xFF), static_cast<char>(c.unicode() >> 8)};
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
  void detection() {
    using E = TEncoding;
    const struct {
      const char* name;
      QByteArray bytes;
      bool complete;
      TEncoding encoding;
      uint32_t bom;
      bool binary;
    } cases[] = {
        {"ascii", "hello\nworld\n", true, E::Utf8, 0, false},
        {"utf8", "gr\xC3\xBC\xC3\x9F", true, E::Utf8, 0, false},
        {"utf8 bom", "\xEF\xBB\xBFx", true, E::Utf8, 3, false},
        {"utf16le bom", QByteArray("\xFF\xFEh\0i\0", 6), true, E::Utf16LE, 2, false},
        {"utf16be bom", QByteArray("\xFE\xFF\0h\0i", 6), true, E::Utf16BE, 2, false},
        {"utf8 cut by the sample", "ab\xC3", false, E::Utf8, 0, false},
        {"utf8 cut at the end of the file", "ab\xC3", true, E::Latin1, 0, false},
        {"invalid utf8", "caf\xE9 au lait", true, E::Latin1, 0, false},
        {"nul byte", QByteArray("ab\0cd", 5), true, E::Latin1, 0, true},
        {"control bytes", "\x01\x02\x03\x04xyz", true, E::Latin1, 0, true},
        {"escape colours", "\x1b[31mred\x1b[0m\n", true, E::Utf8, 0, false},
        {"empty", "", true, E::Utf8, 0, false}};
    for (const auto& c : cases) {
      const TDetection d = DetectEncoding(S(c.bytes), c.complete);
      QVERIFY2(d.encoding == c.encoding && d.bomBytes == c.bom && d.binary == c.binary, c.name);
    }
  }

  void decoding() {
    using E = TEncoding;
    const struct {
      TEncoding encoding;
      QByteArray bytes;
      QString text;
    } cases[] = {
        {E::Utf8, "a\xFF\xC3(\xE2\x82", QStringLiteral("a\uFFFD\uFFFD(\uFFFD\uFFFD")},  // invalid bytes one each
        {E::Utf8, "\xF0\x9F\x98\x80!", QString::fromUtf8("\xF0\x9F\x98\x80!")},        // astral
        {E::Utf8, "\xED\xA0\x80", QStringLiteral("\uFFFD\uFFFD\uFFFD")},                   // surrogate bytes
        {E::Utf16LE, QByteArray("h\0i", 3), QStringLiteral("h\uFFFD")},                       // odd byte
        {E::Utf16BE, QByteArray("\x04\x1F\0!", 4), QStringLiteral("\u041F!")},
        {E::Latin1, "caf\xE9", QStringLiteral("caf\u00E9")},
        {E::Cp1251, "\xCF\xF0\xE8\xE2\xE5\xF2", QStringLiteral("Привет")},
        {E::Cp866, "\x8F\xE0\xA8\xA2\xA5\xE2", QStringLiteral("Привет")},
        {E::Cp437, "\xC9\xCD\xBB\x81", QStringLiteral("╔═╗ü")}};
    for (const auto& [e, bytes, text] : cases) {
      QCOMPARE(Decode(e, S(bytes)), text);
      // Every prefix of the text maps back to the bytes that made it.
      for (qsizetype units = 0; units <= text.size(); ++units) {
        const QString prefix = Decode(e, S(bytes).substr(0, BytesForUnits(e, S(bytes), units)));
        QVERIFY2(prefix == text.left(prefix.size()) && prefix.size() >= std::min(units, text.size()),
                 qPrintable(text + QStringLiteral(": %1 units").arg(units)));
      }
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

  void search() {
    const QByteArray text("Alpha beta ALPHA gamma alpha");
    QByteArray big(4 * 1024 * 1024 + 100, 'x');  // a hit across the 4 MiB chunk boundary
    big.replace(4 * 1024 * 1024 - 3, 6, "needle");
    const QByteArray utf16 = B(Utf16LE(QStringLiteral("one Two three two"), true));
    const qlonglong chunk = 4 * 1024 * 1024 - 3;
    const struct {
      const char* name;
      QByteArray bytes;
      QString pattern;
      bool backwards, caseSensitive;
      qlonglong from, offset, length;  // offset -1: not found
    } cases[] = {
        {"first, any case", text, "alpha", false, false, 0, 0, 5},
        {"next after the first", text, "alpha", false, false, 1, 11, 5},
        {"case sensitive", text, "alpha", false, true, 0, 23, 5},
        {"backwards from the end", text, "ALPHA", true, false, 28, 23, 5},
        {"backwards before a hit", text, "alpha", true, false, 23, 11, 5},
        {"backwards, none before", text, "alpha", true, false, 0, -1, 0},
        {"absent", text, "delta", false, false, 0, -1, 0},
        {"utf8 bytes", "caf\xC3\xA9 CAF\xC3\x89", QStringLiteral("café"), false, false, 1, 6, 5},
        {"cp1251 cyrillic any case", "\xEC\xE8\xF0 \xCC\xC8\xD0", QStringLiteral("МИР"), false, false, 0, 0, 3},
        {"across chunks", big, "NEEDLE", false, false, 0, chunk, 6},
        {"across chunks backwards", big, "needle", true, false, big.size(), chunk, 6},
        {"utf16 any case", utf16, "two", false, false, 0, 10, 6},
        {"utf16 backwards", utf16, "two", true, false, utf16.size(), 30, 6}};
    for (const auto& c : cases) {
      TViewDocument doc;
      QVERIFY(doc.Open(Write("search", S(c.bytes))));
      if (QByteArray(c.name).startsWith("cp1251")) doc.SetEncoding(TEncoding::Cp1251);
      const auto hit = doc.Find({c.pattern, c.backwards, c.caseSensitive, static_cast<uint64_t>(c.from)});
      QVERIFY2(hit ? hit->offset == uint64_t(c.offset) && hit->length == uint64_t(c.length) : c.offset < 0, c.name);
    }
  }

  // The document's reason, which the window shows; F3 closes it.
  void unreadableFiles() {
    for (auto [kind, reason] : {std::pair{"dir", "It is a directory"}, {"fifo", "It is a FIFO, not a regular file"},
                                {"missing", "No such file or directory"}}) {
      const std::string path = Path(kind);
      if (kind == std::string("dir")) QVERIFY(QDir().mkpath(QString::fromStdString(path)));
      if (kind == std::string("fifo")) QVERIFY(mkfifo(path.c_str(), 0600) == 0 || errno == EEXIST);
      TViewDocument doc;
      std::string error;
      QVERIFY(!doc.Open(path, &error));  // returns at once: a FIFO without a writer never blocks
      QCOMPARE(error, std::string(reason));
      const auto window = Show(path);
      QVERIFY(window);
      QVERIFY2(window->ErrorText().contains(QLatin1String(reason)) && window->ErrorText().contains(QLatin1String(kind)),
               qPrintable(window->ErrorText()));
      QTest::keyClick(window.get(), Qt::Key_F3);
      QVERIFY(!window->isVisible());
    }
  }

  // A file cut short while it is shown: reads come back short, nothing breaks.
  void fileThatShrinks() {
    const std::string path = Write("shrinks", std::string(200000, 'a') + "\nlast\n");
    TViewDocument doc(64);
    QVERIFY(doc.Open(path));
    QVERIFY(::truncate(path.c_str(), 1000) == 0);
    const uint64_t last = doc.LastLineStart();
    const QString text = doc.LineText(last, doc.NextLineStart(last));
    QVERIFY(last <= doc.Size() && text.size() <= 2 * 64 + 8 && text.count(QLatin1Char('a')) == text.size());
    QVERIFY(doc.LineStartAt(500) <= 500 && !doc.Find({QStringLiteral("last"), false, false, 0}));
  }

  // A file the kernel reports as empty but which has contents when read.
  void unsizedFile() {
    TViewDocument doc;
    QVERIFY(doc.Open("/proc/self/status") && doc.Size() > 0);
    QVERIFY(doc.LineText(0, doc.NextLineStart(0)).startsWith(QLatin1String("Name:")));
  }
  void opensInTheRightMode() {
    const struct {
      QByteArray bytes;
      TMode mode;
      QString firstRow;
    } cases[] = {
        {"first line\nsecond\n", TMode::Text, "first line"},
        {"a\tb\x01z, and some more text\n", TMode::Text, QStringLiteral("a       b\u00B7z, and some more text")},
        {QByteArray("\x00\x01\x02hello", 8), TMode::Hex, "00000000  00 01 02 68 65 6C 6C 6F                           ...hello"},
        {"", TMode::Text, ""},
        {"na\xEFve\n", TMode::Text, QStringLiteral("na\u00EFve")}};  // invalid UTF-8 as Latin-1
    for (const auto& [bytes, mode, firstRow] : cases) {
      const auto window = Show(Write("mode", S(bytes)));
      QVERIFY(window && window->ErrorText().isEmpty());
      QCOMPARE(int(window->Mode()), int(mode));
      const QStringList rows = mode == TMode::Hex ? window->HexView()->VisibleRows() : window->TextView()->VisibleRows();
      QCOMPARE(rows.value(0), firstRow);
      QVERIFY(window->windowTitle().startsWith(QLatin1String("mode")));
    }
  }

  // With a search active, F3 finds the next hit and Shift+F3 the previous
  // one; Go to line shows the line on top, or the end past the last line.
  void searchAndGoToLine() {
    std::string text;
    for (int i = 1; i <= 5000; ++i) text += (i % 50 == 11 ? "here is a Needle " : "row ") + std::to_string(i) + "\n";
    const auto window = Show(Write("rows.txt", text));
    QVERIFY(window);
    const auto hitLine = [&] {
      const bool done = QTest::qWaitFor([&] { return !window->Searching(); });
      return done && window->Hit() ? window->Document().LineNumberAt(window->Hit()->offset) : uint64_t{0};
    };
    window->Find(QStringLiteral("needle"), false, false);
    QCOMPARE(hitLine(), uint64_t{11});
    for (auto [mods, line] : {std::pair{Qt::NoModifier, 61}, {Qt::ShiftModifier, 11}}) {
      QTest::keyClick(window.get(), Qt::Key_F3, mods);
      QCOMPARE(hitLine(), uint64_t(line));
    }
    QTRY_VERIFY2(window->StatusText().startsWith(QLatin1String("Line 11 of 5,000")), qPrintable(window->StatusText()));
    // Past the last hit the hit stays and the status says so.
    window->Find(QStringLiteral("needle"), false, true);
    QTRY_VERIFY(!window->Searching());
    QVERIFY(window->StatusText().contains(QLatin1String("Not found")));
    window->Find(QStringLiteral("needle"), false, false);
    QCOMPARE(hitLine(), uint64_t{11});  // on screen: the hit speaks for the status
    window->GoToLine(1234);
    QCOMPARE(window->TextView()->VisibleRows().value(0), QStringLiteral("row 1234"));
    // The status follows the line gone to, not the last hit, and F3 searches on from there.
    QVERIFY2(window->StatusText().startsWith(QLatin1String("Line 1,234 of 5,000")), qPrintable(window->StatusText()));
    QTest::keyClick(window.get(), Qt::Key_F3);
    QCOMPARE(hitLine(), uint64_t{1261});
    window->GoToLine(999999);
    QVERIFY(window->TextView()->VisibleRows().last() == QStringLiteral("row 5000") && window->TextView()->AtEnd());
  }

  // The found text is highlighted exactly under its characters and drawn
  // once, in the highlighted text colour, also in a font whose characters are
  // a fraction of a pixel wide (where whole-pixel columns drift away).
  void highlightSitsUnderTheHitOnce() {
    const QString prefix = QStringLiteral("0123456789").repeated(4) + QStringLiteral("abc ");
    const auto window = Show(Write("hit.txt", prefix.toStdString() + "NEEDLE xyz\n"));
    QVERIFY(window);
    TTextView* view = window->TextView();
    QFont font = view->font();
    font.setHintingPreference(QFont::PreferNoHinting);
    for (qreal size = 9; size < 20; size += 0.1) {
      font.setPointSizeF(size);
      const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('M'));
      if (advance - std::floor(advance) > 0.25 && advance - std::floor(advance) < 0.75) break;
    }
    view->setFont(font);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Highlight, Qt::blue);
    palette.setColor(QPalette::HighlightedText, Qt::red);
    view->setPalette(palette);
    window->Find(QStringLiteral("needle"), false, false);
    QTRY_VERIFY(!window->Searching() && window->Hit());
    const QImage image = view->viewport()->grab().toImage();
    const QFontMetricsF fm(font);
    int left = image.width(), right = -1, dark = 0, red = 0;
    for (int y = 0; y < static_cast<int>(fm.height()); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.blue() > 200 && c.red() < 60 && c.green() < 60) left = std::min(left, x), right = std::max(right, x);
      }
    }
    QVERIFY(right > left);
    for (int y = 0; y < static_cast<int>(fm.height()); ++y) {
      for (int x = left; x <= right; ++x) {
        const QColor c = image.pixelColor(x, y);
        dark += c.red() < 100 && c.green() < 100 && c.blue() < 100;  // the text colour under the hit
        red += c.red() > 200 && c.blue() < 60;
      }
    }
    const qreal expectedLeft = 4 + fm.horizontalAdvance(prefix);  // after the view's margin
    QVERIFY2(std::abs(left - expectedLeft) <= 1.5, qPrintable(QStringLiteral("%1 vs %2").arg(left).arg(expectedLeft)));
    QVERIFY2(std::abs(right + 1 - left - fm.horizontalAdvance(QStringLiteral("NEEDLE"))) <= 2, qPrintable(QString::number(right - left)));
    QCOMPARE(dark, 0);
    QVERIFY(red > 0);
  }

  void viewKeys() {
    const auto window = Show(Write("keys.txt", std::string(500, 'w') + "\n\xCF\xF0\xE8\n"));
    QVERIFY(window);
    QCOMPARE(int(window->Document().Encoding()), int(TEncoding::Latin1));
    QTest::keyClick(window.get(), Qt::Key_F2);
    QVERIFY(window->TextView()->Wrap() && window->TextView()->VisibleRows().size() > 2);  // the long line wraps
    QTest::keyClick(window.get(), Qt::Key_F8);  // the next one: CP1251
    QCOMPARE(int(window->Document().Encoding()), int(TEncoding::Cp1251));
    QVERIFY(window->TextView()->VisibleRows().contains(QStringLiteral("При")));
    for (TMode mode : {TMode::Hex, TMode::Text}) {
      QTest::keyClick(window.get(), Qt::Key_F4);
      QCOMPARE(int(window->Mode()), int(mode));
    }
  }

  // 50 MB without a line feed: pieces keep every step short.
  // "--language=FILE" first is taken out of the arguments; anything else is
  // left as it was.
  void languageOptionIsTakenOut() {
    const struct {
      std::vector<const char*> args;
      const char* language;
      std::vector<const char*> left;
    } cases[] = {
        {{"vnview", "--language=/x/Russian.lng", "a.txt"}, "/x/Russian.lng", {"vnview", "a.txt"}},
        {{"vnview", "--language=/x/R.lng", "my", "notes.txt"}, "/x/R.lng", {"vnview", "my", "notes.txt"}},
        {{"vnview", "--language=/x/R.lng"}, "", {"vnview", "--language=/x/R.lng"}},  // a file of that name
        {{"vnview", "a.txt", "--language=/x/R.lng"}, "", {"vnview", "a.txt", "--language=/x/R.lng"}},
        {{"vnview", "--lang=/x", "a.txt"}, "", {"vnview", "--lang=/x", "a.txt"}},
    };
    for (const auto& c : cases) {
      std::vector<char*> argv;
      for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
      argv.push_back(nullptr);
      int argc = static_cast<int>(c.args.size());
      QCOMPARE(TakeLanguageOption(argc, argv.data()), std::string(c.language));
      QCOMPARE(argc, static_cast<int>(c.left.size()));
      for (int i = 0; i < argc; ++i) QCOMPARE(std::string(argv[i]), std::string(c.left[i]));
      QCOMPARE(argv[argc], nullptr);
    }
  }

  // The status line in the language the file manager passed: a picture's
  // bytes in the form of their count, the line, offset and mode words.
  void statusLineSpeaksTheLanguageChosen() {
    QImage picture(1, 1, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG"));
    QVERIFY(png.size() < 100);
    const std::string source = std::getenv("VANTREL_SOURCE_DIR");
    const struct {
      const char* file;
      int size;          // of the picture file; 0: a text file of 21 bytes
      const char* shown;  // the status line
    } cases[] = {
        {"Russian.lng", 101, "1 x 1   По размеру окна   101 байт"},
        {"Russian.lng", 102, "1 x 1   По размеру окна   102 байта"},
        {"Russian.lng", 105, "1 x 1   По размеру окна   105 байт"},
        {"Russian.lng", 111, "1 x 1   По размеру окна   111 байт"},
        {"Russian.lng", 121, "1 x 1   По размеру окна   121 байт"},
        {"Russian.lng", 0, "Строка 1 из 1   Смещение 0 из 21 (100%)   UTF-8"},
        {"German.lng", 101, "1 x 1   Eingepasst   101 Bytes"},
        {"German.lng", 0, "Zeile 1 von 1   Position 0 von 21 (100%)   UTF-8"},
        {"English.lng", 121, "1 x 1   Fit   121 bytes"},
        {"", 101, "1 x 1   Fit   101 bytes"},
    };
    for (const auto& c : cases) {
      vantrel::platform::TLanguageWords words;
      words.Load(*c.file ? source + "/app/language/" + c.file : std::string());
      QCoreApplication::installTranslator(&words);
      const std::string path = c.size ? Write("p.png", S(png + QByteArray(c.size - png.size(), '\0')))
                                      : Write("t.txt", std::string(20, 't') + "\n");
      const auto window = Show(path);
      QVERIFY(window);
      QCOMPARE(int(window->Mode()), int(c.size ? TMode::Image : TMode::Text));
      QTRY_COMPARE(window->StatusText(), QString::fromUtf8(c.shown));
      QCoreApplication::removeTranslator(&words);
    }
  }

  // The keys' help (F1) in the language passed: the keys as they are, every
  // description worded; without a language the English the terminal gets.
  void keysHelpSpeaksTheLanguageChosen() {
    const QStringList english = KeysHelpText().split('\n');
    QCOMPARE(english.value(2), QStringLiteral("Esc, F10       close the viewer (Esc first stops a running search)"));
    for (const char* file : {"German.lng", "Russian.lng"}) {
      vantrel::platform::TLanguageWords words;
      words.Load(std::string(std::getenv("VANTREL_SOURCE_DIR")) + "/app/language/" + file);
      QCoreApplication::installTranslator(&words);
      const QStringList worded = KeysHelpText().split('\n');
      QCoreApplication::removeTranslator(&words);
      QCOMPARE(worded.size(), english.size());
      for (qsizetype i = 0; i < english.size(); ++i) {
        if (english[i].isEmpty()) continue;
        // The keys keep their place; what follows them is another text.
        const qsizetype keys = i == 0 ? 0 : english[i].startsWith(QLatin1String("Up,")) ? 47 : 15;
        QCOMPARE(worded[i].left(keys), english[i].left(keys));
        QVERIFY2(worded[i].mid(keys) != english[i].mid(keys), qPrintable(QLatin1String(file) + ": " + worded[i]));
      }
    }
  }

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
