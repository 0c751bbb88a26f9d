#include "preview/print_document.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPrinter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "preview/preview_window.h"
#include "settings/settings.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;

// Prints to `pdf` through the dialog hook, as if the user had chosen that file and pressed
// Print (or Cancel).
class PrintToFile {
  public:
    PrintToFile(std::string pdf, bool confirm) {
        previous_ = PrintDocument::SetDialogHook([pdf, confirm](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(pdf));
            printer.setPageSize(QPageSize(QPageSize::Letter));
            return confirm;
        });
    }
    ~PrintToFile() { PrintDocument::SetDialogHook(previous_); }

  private:
    PrintDocument::DialogHook previous_;
};

// The page count and the words' boxes, from the poppler tools.
std::string PdfText(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, got);
    }
    pclose(pipe);
    return out;
}

int PdfPages(const std::string& pdf) {
    const std::string info = PdfText("pdfinfo '" + pdf + "' 2>/dev/null");
    const auto at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
}

struct Box {
    double x_min = 1e9, y_min = 1e9, x_max = 0, y_max = 0;
};

// The smallest box around every word on every page, in points from the page's top left.
Box WordsBox(const std::string& pdf) {
    const std::string html = PdfText("pdftotext -bbox '" + pdf + "' - 2>/dev/null");
    Box box;
    std::size_t at = 0;
    while ((at = html.find("<word xMin=\"", at)) != std::string::npos) {
        double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        if (std::sscanf(html.c_str() + at,
                        "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &x0, &y0, &x1,
                        &y1) == 4) {
            box.x_min = std::min(box.x_min, x0);
            box.y_min = std::min(box.y_min, y0);
            box.x_max = std::max(box.x_max, x1);
            box.y_max = std::max(box.y_max, y1);
        }
        ++at;
    }
    return box;
}

TEST(Printing, PageBreaksMakePages) {
    TempDir dir;
    // Three pages: two forced breaks.
    QTextDocument three;
    QTextCursor cursor(&three);
    for (int page = 0; page < 3; ++page) {
        if (page > 0) {
            QTextBlockFormat format;
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            cursor.insertBlock(format);
        }
        cursor.insertText(QStringLiteral("Page %1 text").arg(page + 1));
    }
    const std::string pdf = dir.Path("three.pdf");
    {
        PrintToFile to(pdf, true);
        EXPECT_EQ(PrintDocument::Print(three, 1440, 1440, 1440, 1440), 3);
    }
    EXPECT_EQ(PdfPages(pdf), 3);
}

TEST(Printing, CancelPrintsNothing) {
    TempDir dir;
    QTextDocument document;
    document.setPlainText(QStringLiteral("text"));
    const std::string pdf = dir.Path("cancelled.pdf");
    PrintToFile to(pdf, false);
    EXPECT_EQ(PrintDocument::Print(document, 1440, 1440, 1440, 1440), 0);
    EXPECT_TRUE(dir.Names().empty());
}

// The previewer shows long lines unwrapped; on paper they wrap at the margin, every character
// printed once, no line repeated at the top of the next page. US Letter is 612 x 792 points: with
// one-inch margins every word lies between 72 and 540 across and 72 and 720 down.
TEST(Printing, ThePreviewersLongLinesWrapWithinTheMargins) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kPreviewFontSize, "10").ok());
    TempDir dir;
    std::string content;
    for (int i = 0; i < 120; ++i) {
        char mark[16];
        std::snprintf(mark, sizeof mark, "L%03d:", i);
        std::string line = mark;
        if (i % 10 == 3) {
            line += std::string(395, static_cast<char>('a' + i % 26));  // no place to break
        } else {
            while (line.size() < 400) {
                line += " w" + std::to_string(line.size());
            }
        }
        content += line + "\n";
    }
    dir.WriteFile("long.txt", content);
    PreviewWindow preview;
    preview.Load({dir.Path("long.txt"), "L0", false, false, 0, 0});
    QElapsedTimer clock;
    clock.start();
    while (preview.IsLoading() && clock.elapsed() < 20000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_FALSE(preview.IsLoading());
    const std::string pdf = dir.Path("long.pdf");
    {
        PrintToFile to(pdf, true);
        EXPECT_GT(preview.Print(), 1);
    }
    const auto squeezed = [](std::string text) {
        text.erase(std::remove_if(text.begin(), text.end(),
                                  [](unsigned char c) { return std::isspace(c) != 0; }),
                   text.end());
        return text;
    };
    std::string printed = PdfText("pdftotext -raw '" + pdf + "' - 2>/dev/null");
    // Every page names the file and says which page of how many it is.
    const int pages = PdfPages(pdf);
    for (int page = 1; page <= pages; ++page) {
        const std::string head = dir.Path("long.txt");
        const std::string foot = "page " + std::to_string(page) + " of " + std::to_string(pages);
        const std::size_t at = printed.find(head + "\n" + foot + "\n");
        ASSERT_NE(at, std::string::npos) << foot;
        printed.erase(at, head.size() + foot.size() + 2);
    }
    EXPECT_EQ(squeezed(printed), squeezed(content));
    for (int i = 0; i < 120; i += 7) {
        char mark[16];
        std::snprintf(mark, sizeof mark, "L%03d:", i);
        const std::size_t first = printed.find(mark);
        ASSERT_NE(first, std::string::npos) << mark;
        EXPECT_EQ(printed.find(mark, first + 1), std::string::npos) << mark;
    }
    const Box words = WordsBox(pdf);
    EXPECT_NEAR(words.x_min, 72, 2);
    EXPECT_LE(words.x_max, 541);
    EXPECT_GE(words.y_min, 71);
    EXPECT_LE(words.y_min, 90);
    EXPECT_LE(words.y_max, 721);
    EXPECT_GE(words.y_max, 700);  // the page number at the foot
}

}  // namespace
}  // namespace ferret
