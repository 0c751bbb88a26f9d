#include "util/pdf_text.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace ferret {
namespace {

constexpr const char* kSource = "ferret.PdfText";

// Poppler tells what it finds odd in a file on standard error; a search of many PDFs would fill
// a terminal with it. The file's own failure is told by the caller.
void Quiet(const std::string&, void*) {}

class PopplerText final : public PdfText {
  public:
    explicit PopplerText(std::unique_ptr<poppler::document> document)
        : document_(std::move(document)) {}

    int Pages() const override { return std::max(document_->pages(), 0); }

    std::string PageText(int index) const override {
        const std::unique_ptr<poppler::page> page(document_->create_page(index));
        if (!page) {
            return {};
        }
        const poppler::byte_array bytes =
            page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
        std::string text(bytes.begin(), bytes.end());
        // Lines end in a line feed; the page's end (blank lines, a form feed) is no text.
        std::replace(text.begin(), text.end(), '\r', '\n');
        while (!text.empty() && (text.back() == '\n' || text.back() == '\f')) {
            text.pop_back();
        }
        if (!text.empty()) {
            text.push_back('\n');
        }
        return text;
    }

  private:
    std::unique_ptr<poppler::document> document_;
};

}  // namespace

std::unique_ptr<PdfText> PdfText::Open(int fd, Status& error) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { poppler::set_debug_error_function(Quiet, nullptr); });
    std::unique_ptr<poppler::document> document(
        poppler::document::load_from_file("/proc/self/fd/" + std::to_string(fd)));
    if (!document) {
        error = Status::Error(EILSEQ, "not a PDF that can be read (damaged?)", kSource);
        return nullptr;
    }
    if (document->is_locked()) {
        error = Status::Error(EACCES, "the PDF is encrypted", kSource);
        return nullptr;
    }
    return std::make_unique<PopplerText>(std::move(document));
}

}  // namespace ferret
