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
// that editors read (vim -q, Emacs's grep mode, problem matchers); a PDF's line as
// "PATH#page=N:LINE:COLUMN: TEXT", its line counted in its page (the fragment PDF viewers take).
// One hit line is one line whatever the path and text hold: the path is written as QuotedName
// writes it (as it is, unless it holds a control character), the text with its control characters
// but TAB escaped (EscapedText), so that no line can rewrite a terminal either.
void AppendQuickfixLine(std::string& out, std::string_view path, const HitLine& line);
// The same line after its path, for a caller that appends the path (as QuotedName gives it)
// itself: a file's many lines quote it once.
void AppendQuickfixPlace(std::string& out, const HitLine& line);

}  // namespace ferret
