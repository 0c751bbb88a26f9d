#pragma once

#include <memory>
#include <string>

#include "util/status.h"

namespace ferret {

// The text of a PDF, a page at a time, in reading order, as pdftotext gives it (Poppler does
// the reading). Only the page asked for is held. Not thread-safe; one per thread and file.
class PdfText {
  public:
    // The PDF open as `fd` (not owned; read through its /proc name, so what was opened is what
    // is read). Null with `error` set when it is no PDF, is damaged past reading, or is
    // encrypted.
    static std::unique_ptr<PdfText> Open(int fd, Status& error);
    virtual ~PdfText() = default;

    virtual int Pages() const = 0;
    // The UTF-8 text of page `index` (0-based), each line ended by a line feed; empty for a page
    // without text or one that cannot be read.
    virtual std::string PageText(int index) const = 0;
};

}  // namespace ferret
