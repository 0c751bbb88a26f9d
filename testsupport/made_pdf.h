#pragma once

// PDFs the tests read, made by hand with Python: no PDF maker is needed.
#include <string>
#include <vector>

#include "testsupport/run_program.h"

namespace ferret::testing {

// Writes a PDF at `path` whose pages hold the given lines (UTF-8, of Latin-1 characters; in
// Helvetica), made by hand as a minimal PDF is: a catalogue, a page tree, a page and a content
// stream per page, one font. False, with Python's complaint in `error`, when it could not.
inline bool WritePdf(const std::string& path, const std::vector<std::vector<std::string>>& pages,
                     std::string* error = nullptr) {
    const std::string script = R"py(
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
    std::vector<std::string> arguments = {"-c", script, path};
    for (const std::vector<std::string>& lines : pages) {
        std::string page;
        for (const std::string& line : lines) {
            page += (page.empty() ? "" : "\n") + line;
        }
        arguments.push_back(page);
    }
    const ProgramResult made = RunProgram(FindProgram("python3"), arguments);
    if (error != nullptr) {
        *error = made.err;
    }
    return made.exit_code == 0;
}

}  // namespace ferret::testing
