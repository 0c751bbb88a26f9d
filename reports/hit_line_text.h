#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/hit_lines.h"

namespace ferret {

class FileRecord;
class FileRecords;

// Appends "PATH:LINE:COLUMN: TEXT" and a line feed for a hit line, the form of a list of places
// that editors read (vim -q, Emacs's grep mode, problem matchers). One hit line is one line
// whatever the path and text hold: the path is written as QuotedName writes it (as it is, unless
// it holds a control character), the text with its control characters but TAB escaped
// (EscapedText), so that no line can rewrite a terminal either.
void AppendQuickfixLine(std::string& out, std::string_view path, const HitLine& line);
// The quickfix lines of a file's hit lines, context lines left out; none for a binary file or
// for places that are not lines (a document's paragraphs, a spreadsheet's cells).
std::string QuickfixLines(std::string_view path, const FileHits& hits);

// The hit lines of a run's files with hits, in list order.
struct FileHitLines {
    const FileRecord* file = nullptr;  // one of HitLineTable::files
    FileHits hits;
};
struct HitLineTable {
    std::shared_ptr<FileRecords> files;  // keeps the records alive
    std::vector<FileHitLines> entries;
    // What marks the hits in a line: the search text, or the replacement in a replace run
    // (whose lines show the new text), and how it was searched.
    std::string marked;
    bool regex = false;
    bool ignore_case = false;
    bool replaced = false;
};

}  // namespace ferret
