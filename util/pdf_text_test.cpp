#include "util/pdf_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/limited.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::FindProgram;
using testing::RunProgram;
using testing::TempDir;

// Writes a PDF whose pages hold the given lines (UTF-8, of Latin-1 characters; in Helvetica), made
// by hand as a minimal PDF is: a catalogue, a page tree, a page and a content stream per page, one
// font.
void WritePdf(const TempDir& dir, const std::string& name,
              const std::vector<std::vector<std::string>>& pages) {
    std::string script = R"py(
import sys
path, pages = sys.argv[1], [p.split("\n") for p in sys.argv[2:]]
objects = []
def add(body):
    objects.append(body); return len(objects)
font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
tree = add(None)
kids = []
for lines in pages:
    ops = b"BT /F1 12 Tf 72 720 Td 14 TL "
    for line in lines:
        text = line.encode("latin-1").replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)")
        ops += b"(" + text + b") Tj T* "
    ops += b"ET"
    content = add(b"<< /Length %d >>\nstream\n" % len(ops) + ops + b"\nendstream")
    kids.append(add(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
                    b"/Resources << /Font << /F1 %d 0 R >> >> >>" % (tree, content, font)))
objects[tree - 1] = b"<< /Type /Pages /Kids [" + b" ".join(b"%d 0 R" % k for k in kids) + \
    b"] /Count %d >>" % len(kids)
catalog = add(b"<< /Type /Catalog /Pages %d 0 R >>" % tree)
out = b"%PDF-1.4\n"
offsets = []
for number, body in enumerate(objects, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, catalog, xref)
open(path, "wb").write(out)
)py";
    std::vector<std::string> arguments = {"-c", script, dir.Path(name)};
    for (const std::vector<std::string>& lines : pages) {
        std::string page;
        for (const std::string& line : lines) {
            page += (page.empty() ? "" : "\n") + line;
        }
        arguments.push_back(page);
    }
    const testing::ProgramResult made = RunProgram(FindProgram("python3"), arguments);
    ASSERT_EQ(made.exit_code, 0) << made.err;
}

std::unique_ptr<PdfText> OpenPdf(const std::string& path, Fd& fd, Status& error) {
    fd.Reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return PdfText::Open(fd.get(), error);
}

std::size_t CountOf(const std::string& text, const std::string& word) {
    std::size_t count = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++count;
    }
    return count;
}

// Each page's text is that page's, line by line, and counts as pdftotext's text of the page.
TEST(PdfText, GivesEachPagesTextAsPdftotextDoes) {
    TempDir dir;
    WritePdf(dir, "manual.pdf",
             {{"Chapter one", "the ferret finds the file"},
              {},
              {"Chapter three: caf\xc3\xa9 and (brackets)", "file file file"}});
    Fd fd;
    Status error;
    const std::unique_ptr<PdfText> pdf = OpenPdf(dir.Path("manual.pdf"), fd, error);
    ASSERT_NE(pdf, nullptr) << error.description();
    ASSERT_EQ(pdf->Pages(), 3);
    EXPECT_EQ(pdf->PageText(0), "Chapter one\nthe ferret finds the file\n");
    EXPECT_EQ(pdf->PageText(1), "");
    EXPECT_EQ(pdf->PageText(2), "Chapter three: caf\xc3\xa9 and (brackets)\nfile file file\n");
    EXPECT_EQ(pdf->PageText(7), "");

    const std::string pdftotext = FindProgram("pdftotext");
    ASSERT_NE(pdftotext, "");
    for (int page = 1; page <= 3; ++page) {
        const testing::ProgramResult reference =
            RunProgram(pdftotext, {"-f", std::to_string(page), "-l", std::to_string(page), "-enc",
                                   "UTF-8", dir.Path("manual.pdf"), "-"});
        ASSERT_EQ(reference.exit_code, 0) << reference.err;
        for (const char* word : {"file", "Chapter", "caf\xc3\xa9", "the"}) {
            EXPECT_EQ(CountOf(pdf->PageText(page - 1), word), CountOf(reference.out, word))
                << "page " << page << ", " << word;
        }
    }
}

// Files that are no PDF, or a damaged one, are told and never crash or hang.
TEST(PdfText, DamagedFilesAreTold) {
    TempDir dir;
    dir.WriteFile("text.pdf", "just some text, no PDF at all\n");
    dir.WriteFile("empty.pdf", "");
    dir.WriteFile("header.pdf", "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\n%%EOF\n");
    for (const char* name : {"text.pdf", "empty.pdf", "header.pdf"}) {
        SCOPED_TRACE(name);
        const std::string failure = testing::RunLimited(20, 64, [&] {
            Fd fd;
            Status error;
            const std::unique_ptr<PdfText> pdf = OpenPdf(dir.Path(name), fd, error);
            return pdf == nullptr ? !error.ok() : pdf->Pages() == 0;
        });
        EXPECT_EQ(failure, "");
    }
    // Cut anywhere, a real PDF either reads or is told.
    WritePdf(dir, "whole.pdf", {{"alpha beta"}, {"gamma"}});
    const std::string whole = dir.ReadFile("whole.pdf");
    for (std::size_t cut = 0; cut < whole.size(); cut += 37) {
        dir.WriteFile("cut.pdf", whole.substr(0, cut));
        Fd fd;
        Status error;
        const std::unique_ptr<PdfText> pdf = OpenPdf(dir.Path("cut.pdf"), fd, error);
        if (pdf == nullptr) {
            EXPECT_FALSE(error.ok()) << cut;
            continue;
        }
        for (int page = 0; page < pdf->Pages(); ++page) {
            pdf->PageText(page);
        }
    }
}

}  // namespace
}  // namespace ferret
