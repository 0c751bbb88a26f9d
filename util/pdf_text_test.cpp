#include "util/pdf_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/limited.h"
#include "testsupport/made_pdf.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::FindProgram;
using testing::RunProgram;
using testing::TempDir;

// Writes a PDF in `dir` (testing::WritePdf).
void WritePdf(const TempDir& dir, const std::string& name,
              const std::vector<std::vector<std::string>>& pages) {
    std::string error;
    ASSERT_TRUE(testing::WritePdf(dir.Path(name), pages, &error)) << error;
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
