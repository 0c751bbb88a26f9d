#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "util/desktop_apps.h"

namespace ferret {

// Where a file opens in an editor. Line and column are 1-based; the column counts bytes of the
// line's UTF-8 text, as hit lines and `-hits` count it (vim's %c, grep, ripgrep). Smaller
// numbers are taken as 1.
struct EditorPlace {
    std::string path;
    std::int64_t line = 1;
    std::int64_t column = 1;
};

// The editor command a user writes in the options: a program and its arguments, split into
// words as a shell would split them (blanks separate, double quotes group, no expansion), in
// which these placeholders stand for the place:
//   %f  the file's full path    %l  the line    %c  the column    %%  a "%"
// Any other "%" stays as it is. A command without %f gets the path as its last argument.

// The command for the desktop's default text editor `app`, chosen by the base name of its
// program: "code -g %f:%l:%c" (also codium), "kate -l %l -c %c %f", "gedit +%l:%c %f",
// "gnome-text-editor +%l:%c %f", "emacs +%l:%c %f"; vim, nvim and vi, which need a terminal,
// "x-terminal-emulator -e vim +%l %f" when `has_terminal`, else "xdg-open %f". Another editor
// gets its own desktop command line with the file for its file codes (%f, %F, %u, %U) and
// without the others, so it opens the file at its start. Without an app: "xdg-open %f". The
// program keeps its path; a program with blanks, quotes or "%" is quoted to stay one word.
std::string DefaultEditorCommand(const std::optional<AppCommand>& app, bool has_terminal);

// The program and arguments of `command` for `place`: each word with its placeholders replaced,
// so a path with blanks, quotes, "$(...)" or ";" stays one argument and is never read by a
// shell. Empty when the command has no words. Words are UTF-8; the path is used byte for byte.
std::vector<std::string> EditorArguments(const std::string& command, const EditorPlace& place);

// `word` written so that EditorArguments reads it back as one word with no placeholder.
std::string QuotedCommandWord(const std::string& word);

}  // namespace ferret
