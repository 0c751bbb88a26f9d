#pragma once

#include <string>
#include <string_view>

namespace ferret {

// Names from disk are data: a line feed in a name must not start another entry in a list, nor
// an escape sequence move a terminal's cursor. These put names and texts into text outputs
// (files, pipes, terminals); the window shows names as they are.
//
// The control characters are the bytes 0x00 to 0x1F and 0x7F, and the C1 controls U+0080 to
// U+009F written in UTF-8 (bytes 0xC2 0x80 to 0xC2 0x9F), which terminals obey too. Other bytes
// (UTF-8 or not) are written as they are.
//
// The escapes are C's, as git writes quoted names: \a \b \t \n \v \f \r, \" and \\ inside
// quotes, and three octal digits for any other byte that needs one (\033 for ESC, \302\233 for
// U+009B).

// A name in a line of text (hit lines, reports, messages): as it is unless it holds a control
// character or begins with a double quote; then in double quotes with C escapes. A name that
// begins with a double quote is thus always the quoted form, so every name can be read back.
// `always`: quoted whatever it holds (a name that would read as another path, InsideFile::Strays).
std::string QuotedName(std::string_view name, bool always = false);
void AppendQuotedName(std::string& out, std::string_view name, bool always = false);

// A name in a patch (the ---, +++ and "Binary files" lines), as `git diff` writes it and both
// `patch` and `git apply` read it back: in double quotes with C escapes when it holds a control
// character, a double quote or a backslash, or begins with a blank (which patch would drop).
// A name with a blank is followed by a TAB on the --- and +++ lines: see PatchNameEnd.
std::string PatchName(std::string_view name);
// What follows a name on a patch's --- and +++ lines: a TAB when the name holds a blank, so that
// patch reads the name whole; nothing otherwise (as git writes it).
std::string_view PatchNameEnd(std::string_view name);

// A text for reading (a hit line's text, a message) with its control characters written as C
// escapes, line feeds too unless `keep_line_feeds`; TAB stays as it is, and so do backslashes
// and double quotes (the text is not read back).
std::string EscapedText(std::string_view text, bool keep_line_feeds = false);
void AppendEscapedText(std::string& out, std::string_view text, bool keep_line_feeds = false);

}  // namespace ferret
