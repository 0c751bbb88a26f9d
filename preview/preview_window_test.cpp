#include "preview/preview_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <QTextBlock>
#include <QTextCursor>
#include <cstdlib>
#include <string>
#include <tuple>

#include "preview/mark_colors.h"
#include "preview/print_document.h"
#include "settings/settings.h"
#include "testsupport/made_archive.h"
#include "testsupport/made_pdf.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;

class PreviewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kPreviewFontSize, "10").ok());
    }
    // Opens a previewer on `content` and waits until its text is in place.
    PreviewWindow* Open(const std::string& content, const std::string& find, bool regex = false,
                        bool ignore_case = false) {
        const std::string name = "file" + std::to_string(++files_) + ".txt";
        dir_.WriteFile(name, content);
        const std::string path = dir_.Path(name);
        auto* preview = new PreviewWindow;
        preview->setAttribute(Qt::WA_DeleteOnClose, false);
        windows_.emplace_back(preview);
        preview->Load({path, find, ignore_case, regex, 0, 0});
        Wait(*preview);
        return preview;
    }
    static void Wait(const PreviewWindow& preview) {
        QElapsedTimer clock;
        clock.start();
        while (preview.IsLoading() && clock.elapsed() < 20000) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_FALSE(preview.IsLoading());
    }
    // Marked characters: in the hit colour (blue on the light default palette), bold, at the
    // given size.
    static int MarkedCharacters(const PreviewWindow& preview, int size,
                                const QColor& color = QColor(0, 0, 255)) {
        int marked = 0;
        const QTextDocument* document = preview.Box()->document();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                if (format.fontWeight() == QFont::Bold && format.foreground().color() == color &&
                    static_cast<int>(format.fontPointSize()) == size) {
                    marked += it.fragment().length();
                }
            }
        }
        return marked;
    }
    TempDir dir_;
    int files_ = 0;
    std::vector<std::unique_ptr<PreviewWindow>> windows_;
};

TEST_F(PreviewTest, PlainMarksCountInTheCaption) {
    PreviewWindow* two = Open("abab\naaaa\n", "ab");
    EXPECT_EQ(two->windowTitle(), QStringLiteral("File Preview (Text Mode) [2 found]"));
    EXPECT_EQ(MarkedCharacters(*two, 10), 4);
    EXPECT_EQ(Open("aaaa", "aa")->MarkCount(), 2);
    PreviewWindow* none = Open("nothing here", "zz");
    EXPECT_EQ(none->windowTitle(), QStringLiteral("File Preview (Text Mode) [0 found]"));
    PreviewWindow* unmarked = Open("nothing here", "");
    EXPECT_EQ(unmarked->windowTitle(), QStringLiteral("File Preview (Text Mode)"));
    EXPECT_EQ(unmarked->Box()->toPlainText(), QStringLiteral("nothing here"));
    // Ignoring case, and line ends of every kind keep the marks on their hits.
    PreviewWindow* lines = Open("x\r\nHIT\ry\nhit\r\n", "hit", false, true);
    EXPECT_EQ(lines->MarkCount(), 2);
    EXPECT_EQ(MarkedCharacters(*lines, 10), 6);
    EXPECT_EQ(lines->Box()->toPlainText(), QStringLiteral("x\nHIT\ny\nhit\n"));
    // The line-break marker finds hits that span a line end.
    EXPECT_EQ(Open("a\r\nb a\r\nb", "a^^CrLfb")->MarkCount(), 2);
}

// A hit line's place (lines ending at LF, a lone CR in its line; columns in bytes) selects its
// hit, after non-ASCII text too.
TEST_F(PreviewTest, OpensAtAHitLinesPlace) {
    dir_.WriteFile("at.txt", "one\r\nGrüße\rdas 日本 hit\nhit\n");
    PreviewWindow preview;
    preview.Load({dir_.Path("at.txt"), "hit", false, false, 2, 20});
    Wait(preview);
    const QTextCursor cursor = preview.Box()->textCursor();
    EXPECT_EQ(cursor.selectedText(), QStringLiteral("hit"));
    EXPECT_EQ(cursor.selectionStart(), 17);
}

// The cursor's place in the file, as "Open in Editor" hands it on: the run's line and byte
// column wherever the cursor is, past the box's paragraphs of many lines, CR LF, lone CRs, the
// file's own line separators and characters of two, three and four bytes.
TEST_F(PreviewTest, TheCursorsPlaceIsTheRunsLineAndByteColumn) {
    std::string text;
    for (int line = 1; line <= 200; ++line) {
        text += line % 50 == 7    ? "mixed \r lone é日😀 end"
                : line % 50 == 20 ? "own\u2028sep and \u2029para"
                                  : "line " + std::to_string(line);
        text += line % 3 == 0 ? "\r\n" : "\n";
    }
    PreviewWindow* preview = Open(text, "");
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    int checked = 0;
    for (int position = 0; position <= shown.size(); ++position) {
        if (position < shown.size() && shown[position].isLowSurrogate()) {
            continue;  // inside a character
        }
        const qsizetype start = shown.lastIndexOf(QLatin1Char('\n'), position - 1) + 1;
        const std::int64_t line = shown.left(position).count(QLatin1Char('\n')) + 1;
        const std::int64_t column = shown.mid(start, position - start).toUtf8().size() + 1;
        QTextCursor cursor(preview->Box()->document());
        cursor.setPosition(position);
        preview->Box()->setTextCursor(cursor);
        const PreviewWindow::FilePlace place = preview->CursorPlace();
        ASSERT_EQ(place.line, line) << position;
        ASSERT_EQ(place.column, column) << position;
        ++checked;
    }
    EXPECT_GT(checked, 1500);

    // A selected hit is at its start: the place the run gave, which it was opened at.
    dir_.WriteFile("hit.txt", "one\r\nGrüße\rdas 日本 hit\nhit\n");
    PreviewWindow at_hit;
    at_hit.Load({dir_.Path("hit.txt"), "hit", false, false, 2, 20});
    Wait(at_hit);
    ASSERT_EQ(at_hit.Box()->textCursor().selectedText(), QStringLiteral("hit"));
    EXPECT_EQ(at_hit.CursorPlace().line, 2);
    EXPECT_EQ(at_hit.CursorPlace().column, 20);
    // Marked again, the text and so the places stay.
    at_hit.SetHighlighting(false);
    Wait(at_hit);
    QTextCursor third(at_hit.Box()->document());
    third.setPosition(at_hit.Box()->document()->characterCount() - 2);
    at_hit.Box()->setTextCursor(third);
    EXPECT_EQ(at_hit.CursorPlace().line, 3);
    EXPECT_EQ(at_hit.CursorPlace().column, 4);
}

// "Open in Editor" hands the file and the cursor's place to its handler; without one it cannot
// be chosen. A file that cannot be shown opens at the place asked for.
TEST_F(PreviewTest, OpenInEditorTellsTheFileAndTheCursorsPlace) {
    PreviewWindow* preview = Open("first\nsecond line\n", "line");
    QAction* item = preview->findChild<QAction*>(QStringLiteral("mnuOpenInEditor"));
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(item->isEnabled());
    EXPECT_EQ(item->shortcut(), QKeySequence(QStringLiteral("Ctrl+E")));
    struct Opened {
        std::string path;
        std::int64_t line;
        std::int64_t column;
        bool operator==(const Opened&) const = default;
    };
    std::vector<Opened> opened;
    const auto record = [&opened](const std::string& path, std::int64_t line, std::int64_t column) {
        opened.push_back({path, line, column});
    };
    preview->SetEditorHandler(record);
    EXPECT_TRUE(item->isEnabled());
    QTextCursor cursor(preview->Box()->document());
    cursor.setPosition(13);  // "second |line"
    preview->Box()->setTextCursor(cursor);
    item->trigger();
    EXPECT_EQ(opened, (std::vector<Opened>{{preview->Target().path, 2, 8}}));

    // Its access key is its own in the menu.
    QStringList keys;
    for (const QAction* action : preview->PopupMenu()->actions()) {
        const qsizetype amp = action->text().indexOf(QLatin1Char('&'));
        if (amp >= 0 && amp + 1 < action->text().size()) {
            keys << action->text().mid(amp + 1, 1).toLower();
        }
    }
    EXPECT_EQ(keys.count(QStringLiteral("e")), 1) << keys.join(',').toStdString();

    PreviewWindow missing;
    missing.SetEditorHandler(record);
    missing.Load({dir_.Path("absent.txt"), "x", false, false, 7, 3});
    Wait(missing);
    missing.OpenInEditor();
    EXPECT_EQ(opened.back(), (Opened{dir_.Path("absent.txt"), 7, 3}));
}

TEST_F(PreviewTest, MarkedUtf16FilesShowAsText) {
    // "[Key]\r\nold=old\r\n" in UTF-16, both byte orders, behind their marks.
    const std::string text = "[Key]\r\n\"old\"=\"\xC3\xA9old\"\r\n";
    for (const bool big_endian : {false, true}) {
        std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
        for (const QChar c : QString::fromUtf8(text)) {
            const char high = static_cast<char>(c.unicode() >> 8);
            const char low = static_cast<char>(c.unicode() & 0xFF);
            bytes += big_endian ? std::string{high, low} : std::string{low, high};
        }
        PreviewWindow* preview = Open(bytes, "old");
        EXPECT_EQ(preview->Box()->toPlainText(), QStringLiteral("[Key]\n\"old\"=\"\u00e9old\"\n"));
        EXPECT_EQ(preview->windowTitle(), QStringLiteral("File Preview (Text Mode) [2 found]"));
        EXPECT_EQ(MarkedCharacters(*preview, 10), 6);
    }
}

// A file in a legacy encoding shows its text and marks its hits, its encoding in the status bar;
// the TextEncoding setting forces another.
TEST_F(PreviewTest, LegacyFilesShowInTheirEncoding) {
    // "Привет, мир! Привет" in KOI8-R, long enough to be told from the other Cyrillic encodings.
    std::string bytes;
    for (int i = 0; i < 20; ++i) {
        bytes += "\xF0\xD2\xC9\xD7\xC5\xD4, \xCD\xC9\xD2! \xF0\xD2\xC9\xD7\xC5\xD4\n";
    }
    const auto encoding_shown = [](const PreviewWindow& preview) {
        QStringList texts;
        for (const QLabel* label : preview.findChildren<QLabel*>()) {
            texts << label->text();
        }
        return texts;
    };
    PreviewWindow* preview = Open(bytes, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_TRUE(preview->Box()->toPlainText().startsWith(
        QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
                          "\xD0\xBC\xD0\xB8\xD1\x80!")));
    EXPECT_EQ(preview->windowTitle(), QStringLiteral("File Preview (Text Mode) [40 found]"));
    EXPECT_TRUE(encoding_shown(*preview).contains(QStringLiteral("KOI8-R")));

    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kTextEncoding, "ISO-8859-1").ok());
    PreviewWindow* forced = Open(bytes, "\xD0\x9F");
    EXPECT_EQ(forced->windowTitle(), QStringLiteral("File Preview (Text Mode) [0 found]"));
    EXPECT_TRUE(encoding_shown(*forced).contains(QStringLiteral("ISO-8859-1")));
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kTextEncoding, "").ok());
}

TEST_F(PreviewTest, PatternMarksAndABadPattern) {
    PreviewWindow* digits = Open("é1 😀22 x333", "\\d+", true);
    EXPECT_EQ(digits->MarkCount(), 3);
    EXPECT_EQ(MarkedCharacters(*digits, 10), 6);
    QTextCursor second(digits->Box()->document());
    second.setPosition(6);  // inside "22", after the two UTF-16 units of the emoji
    EXPECT_EQ(second.charFormat().fontWeight(), QFont::Bold);
    PreviewWindow* bad = Open("text (", "(", true);
    EXPECT_EQ(bad->windowTitle(), QStringLiteral("File Preview (Text Mode)"));
    EXPECT_EQ(MarkedCharacters(*bad, 10), 0);
    EXPECT_EQ(bad->Box()->toPlainText(), QStringLiteral("text ("));
}

// With whole words only, a hit inside a longer word is not marked, for a text and a pattern.
TEST_F(PreviewTest, WholeWordsOnlyMarksWholeWords) {
    dir_.WriteFile("words.txt", "cat concat cats (cat) a.b a.bc CAT");
    const std::tuple<std::string, bool, bool, int> cases[] = {{"cat", false, false, 2},
                                                              {"cat", false, true, 3},
                                                              {"a.b", false, false, 1},
                                                              {"c.t", true, false, 2},
                                                              {"cat|a", true, false, 4}};
    for (const auto& [find, regex, ignore_case, marks] : cases) {
        SCOPED_TRACE(find);
        PreviewWindow preview;
        preview.Load({dir_.Path("words.txt"), find, ignore_case, regex, 0, 0, true});
        Wait(preview);
        EXPECT_EQ(preview.MarkCount(), marks);
    }
}

TEST_F(PreviewTest, HighlightingAndFontSize) {
    PreviewWindow* preview = Open("one two one", "one");
    preview->SetHighlighting(false);
    Wait(*preview);
    EXPECT_FALSE(preview->Highlighting());
    EXPECT_EQ(preview->windowTitle(), QStringLiteral("File Preview (Text Mode)"));
    EXPECT_EQ(MarkedCharacters(*preview, 10), 0);
    preview->SetHighlighting(true);
    Wait(*preview);
    EXPECT_EQ(preview->windowTitle(), QStringLiteral("File Preview (Text Mode) [2 found]"));
    preview->SetMarkSize(14);
    Wait(*preview);
    EXPECT_EQ(MarkedCharacters(*preview, 14), 6);
    EXPECT_EQ(GetSettingValue(kSettingsKey, kPreviewFontSize, ""), "14");
    EXPECT_EQ(preview->windowTitle(), QStringLiteral("File Preview (Text Mode) [2 found]"));
    // Any stored size but 10 is the large one.
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kPreviewFontSize, "12").ok());
    PreviewWindow* large = Open("one", "one");
    EXPECT_EQ(large->MarkSize(), 14);
    EXPECT_EQ(MarkedCharacters(*large, 14), 3);
}

// In a dark palette the marks take the colour that stands out on it, and back; the text and the
// place in it stay.
TEST_F(PreviewTest, MarksFollowThePalette) {
    PreviewWindow* preview = Open("one two one", "one");
    const QColor light_hit = MarkColorsOn(preview->palette().color(QPalette::Base)).hit;
    ASSERT_EQ(MarkedCharacters(*preview, 10, light_hit), 6);
    QTextCursor cursor(preview->Box()->document());
    cursor.setPosition(4);
    cursor.setPosition(7, QTextCursor::KeepAnchor);
    preview->Box()->setTextCursor(cursor);

    QPalette dark = preview->palette();
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    preview->setPalette(dark);
    const QColor dark_hit = MarkColorsOn(QColor(35, 35, 35)).hit;
    ASSERT_NE(dark_hit, light_hit);
    EXPECT_EQ(MarkedCharacters(*preview, 10, dark_hit), 6);
    EXPECT_EQ(MarkedCharacters(*preview, 10, light_hit), 0);
    EXPECT_EQ(preview->Box()->textCursor().selectedText(), QStringLiteral("two"));
    EXPECT_EQ(preview->Box()->toPlainText(), QStringLiteral("one two one"));
    // Marked again (another size) in the dark palette: the dark colour.
    preview->SetMarkSize(14);
    Wait(*preview);
    EXPECT_EQ(MarkedCharacters(*preview, 14, dark_hit), 6);

    preview->setPalette(QPalette());
    EXPECT_EQ(MarkedCharacters(*preview, 14, light_hit), 6);
}

// Paper is white: in the dark scheme the marks print in the colour for a light background, and
// the window keeps its own.
TEST_F(PreviewTest, MarksPrintInThePapersColour) {
    PreviewWindow* preview = Open("hit hit hit hit hit hit\n", "hit");
    QPalette dark = preview->palette();
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    preview->setPalette(dark);
    const QColor screen = MarkColorsOn(QColor(35, 35, 35)).hit;
    const QColor paper = MarkColorsOn(Qt::white).hit;
    const std::string pdf = dir_.Path("marks.pdf");
    const PrintDocument::DialogHook previous =
        PrintDocument::SetDialogHook([pdf](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(pdf));
            return true;
        });
    EXPECT_EQ(preview->Print(), 1);
    PrintDocument::SetDialogHook(previous);
    EXPECT_EQ(MarkedCharacters(*preview, 10, screen), 18);

    const std::string page = dir_.Path("page");
    ASSERT_EQ(
        std::system(("pdftoppm -r 150 -png -singlefile '" + pdf + "' '" + page + "'").c_str()), 0);
    const QImage image(QString::fromStdString(page + ".png"));
    ASSERT_FALSE(image.isNull());
    int paper_pixels = 0;
    int screen_pixels = 0;
    const auto near = [](QColor a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                   std::abs(a.blue() - b.blue()) <
               30;
    };
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            paper_pixels += near(pixel, paper) ? 1 : 0;
            screen_pixels += near(pixel, screen) ? 1 : 0;
        }
    }
    EXPECT_GT(paper_pixels, 50);
    EXPECT_EQ(screen_pixels, 0);
}

// What a run found inside a file is shown by reading it through that file: an archive's entry
// (nested ones too), a compressed file's data and a PDF's text, whose hits open at their page's
// line. The caption names what is shown; an entry gone from its archive is told.
TEST_F(PreviewTest, TextsInsideArchivesAndPdfsAreReadThroughTheirFile) {
    std::string error;
    ASSERT_TRUE(
        testing::WriteArchive(dir_.Path("inner.zip"), {{"deep/x.txt", "a deep hit"}}, &error))
        << error;
    ASSERT_TRUE(testing::WriteArchive(dir_.Path("site.tar.gz"),
                                      {{"a.txt", "no"},
                                       {"docs/in.txt", "one\nhit two hit\n"},
                                       {"inner.zip", testing::BytesOfFile(dir_.Path("inner.zip"))}},
                                      &error))
        << error;
    ASSERT_TRUE(testing::WriteArchive(dir_.Path("app.log.gz"), {{"", "log hit\n"}}, &error))
        << error;
    ASSERT_TRUE(testing::WritePdf(dir_.Path("manual.pdf"),
                                  {{"first page", "hit"}, {"second page", "the hit"}}, &error))
        << error;
    const auto show = [&](const std::string& file, std::vector<std::string> inside,
                          std::int64_t line = 0, std::int64_t column = 0, std::int32_t page = 0) {
        PreviewTarget target{dir_.Path(file), "hit", false, false, line, column};
        target.unpack = true;
        target.inside = std::move(inside);
        target.page = page;
        target.caption = "shown as " + file;
        auto* preview = new PreviewWindow;
        preview->setAttribute(Qt::WA_DeleteOnClose, false);
        windows_.emplace_back(preview);
        preview->Load(target);
        Wait(*preview);
        return preview;
    };
    PreviewWindow* entry = show("site.tar.gz", {"docs/in.txt"}, 2, 9);
    EXPECT_EQ(entry->Box()->toPlainText(), QStringLiteral("one\nhit two hit\n"));
    EXPECT_EQ(entry->MarkCount(), 2);
    EXPECT_EQ(entry->Box()->textCursor().selectionStart(), 12);
    EXPECT_EQ(entry->Box()->textCursor().selectedText(), QStringLiteral("hit"));
    bool captioned = false;
    for (const QLabel* label : entry->findChildren<QLabel*>()) {
        captioned = captioned || label->text() == QStringLiteral("shown as site.tar.gz");
    }
    EXPECT_TRUE(captioned);
    EXPECT_EQ(show("site.tar.gz", {"inner.zip", "deep/x.txt"})->Box()->toPlainText(),
              QStringLiteral("a deep hit"));
    EXPECT_EQ(show("app.log.gz", {})->MarkCount(), 1);
    // Each page after a line holding a form feed; the second page's line 2 is the file's 4th.
    PreviewWindow* pdf = show("manual.pdf", {}, 2, 5, 2);
    const QStringList lines = pdf->Box()->toPlainText().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0].trimmed(), QStringLiteral("first page"));
    EXPECT_EQ(lines[2], QStringLiteral("\f"));
    EXPECT_EQ(lines[4].trimmed(), QStringLiteral("the hit"));
    EXPECT_EQ(pdf->MarkCount(), 2);
    EXPECT_EQ(pdf->Box()->textCursor().selectedText(), QStringLiteral("hit"));
    EXPECT_EQ(pdf->Box()->textCursor().selectionStart(),
              pdf->Box()->toPlainText().indexOf(QStringLiteral("the hit")) + 4);
    EXPECT_TRUE(show("site.tar.gz", {"gone.txt"})
                    ->Box()
                    ->toPlainText()
                    .startsWith(QStringLiteral("...File Could Not be Displayed")));
}

TEST_F(PreviewTest, UnreadableFileAndClosingWhileLoading) {
    auto* missing = new PreviewWindow;
    windows_.emplace_back(missing);
    missing->setAttribute(Qt::WA_DeleteOnClose, false);
    missing->Load({dir_.Path("absent.txt"), "x", false, false, 0, 0});
    Wait(*missing);
    EXPECT_EQ(missing->Box()->toPlainText(), QStringLiteral("...File Could Not be Displayed"));
    EXPECT_EQ(missing->windowTitle(), QStringLiteral("File Preview (Text Mode)"));
    // A window closed before its text is ready goes without waiting for it.
    std::string big;
    for (int i = 0; i < 200000; ++i) {
        big += "some line with a hit in it\n";
    }
    dir_.WriteFile("big.txt", big);
    const std::string path = dir_.Path("big.txt");
    QPointer<PreviewWindow> closing = new PreviewWindow;
    closing->Load({path, "hit", false, false, 0, 0});
    closing->close();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull());
}

}  // namespace
}  // namespace ferret
