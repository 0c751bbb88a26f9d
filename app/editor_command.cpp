#include "app/editor_command.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <array>
#include <string_view>

namespace ferret {
namespace {

struct KnownEditor {
    std::string_view name;
    std::string_view arguments;
};

// The editors whose way of taking a line (and a column) is known, by the base name of their
// program.
constexpr std::array<KnownEditor, 6> kKnownEditors = {{
    {"code", "-g %f:%l:%c"},
    {"codium", "-g %f:%l:%c"},
    {"kate", "-l %l -c %c %f"},
    {"gedit", "+%l:%c %f"},
    {"gnome-text-editor", "+%l:%c %f"},
    {"emacs", "+%l:%c %f"},
}};
// Editors that run in a terminal; they take the line only.
constexpr std::array<std::string_view, 3> kTerminalEditors = {"vim", "nvim", "vi"};

std::string_view BaseName(std::string_view program) {
    const std::size_t slash = program.rfind('/');
    return slash == std::string_view::npos ? program : program.substr(slash + 1);
}

// `word`, already in the command's placeholder syntax, grouped so that QProcess::splitCommand
// reads it as one word: in double quotes, with three quotes for a quote.
std::string Grouped(const std::string& word) {
    const QString text = QString::fromStdString(word);
    const bool plain = !text.isEmpty() && std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.isSpace() || c == QLatin1Char('"');
    });
    if (plain) {
        return word;
    }
    std::string grouped = "\"";
    for (const char c : word) {
        grouped += c == '"' ? std::string("\"\"\"") : std::string(1, c);
    }
    return grouped + "\"";
}

// The words of a desktop entry's Exec line: blanks separate, double quotes group, a backslash
// in quotes takes the next character as it is.
std::vector<std::string> DesktopExecWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    bool quoted = false;
    for (std::size_t at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && at + 1 < line.size()) {
                word += line[++at];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) {
                words.push_back(word);
                word.clear();
                in_word = false;
            }
        } else {
            in_word = true;
            if (c == '"') {
                quoted = true;
            } else {
                word += c;
            }
        }
    }
    if (in_word) {
        words.push_back(word);
    }
    return words;
}

// A desktop command line as an editor command: its file codes (%f, %F, %u, %U) become %f, its
// other codes (icon, name, location and the deprecated ones) go, a literal "%" is kept.
std::string CommandOfDesktopLine(const std::string& line) {
    std::string command;
    bool has_file = false;
    for (const std::string& word : DesktopExecWords(line)) {
        std::string converted;
        bool had_code = false;
        for (std::size_t at = 0; at < word.size(); ++at) {
            if (word[at] != '%') {
                converted += word[at];
                continue;
            }
            const char code = at + 1 < word.size() ? word[++at] : '%';
            if (code == '%') {
                converted += "%%";
            } else if (code == 'f' || code == 'F' || code == 'u' || code == 'U') {
                converted += "%f";
                has_file = true;
            } else {
                had_code = true;  // expands to nothing here
            }
        }
        if (converted.empty() && had_code) {
            continue;
        }
        command += (command.empty() ? "" : " ") + Grouped(converted);
    }
    return has_file ? command : command + " %f";
}

}  // namespace

std::string QuotedCommandWord(const std::string& word) {
    std::string escaped;
    for (const char c : word) {
        escaped += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return Grouped(escaped);
}

std::string DefaultEditorCommand(const std::optional<AppCommand>& app, bool has_terminal) {
    if (!app || app->program.empty()) {
        return "xdg-open %f";
    }
    const std::string_view name = BaseName(app->program);
    const std::string program = QuotedCommandWord(app->program);
    for (const KnownEditor& editor : kKnownEditors) {
        if (name == editor.name) {
            return program + " " + std::string(editor.arguments);
        }
    }
    if (std::find(kTerminalEditors.begin(), kTerminalEditors.end(), name) !=
        kTerminalEditors.end()) {
        // Started on its own it would have no terminal to show in: without a terminal program
        // the desktop opens the file, in a terminal of its choosing, though not at the line.
        return has_terminal ? "x-terminal-emulator -e " + program + " +%l %f" : "xdg-open %f";
    }
    if (app->command_line.empty()) {
        return program + " %f";
    }
    return CommandOfDesktopLine(app->command_line);
}

std::vector<std::string> EditorArguments(const std::string& command, const EditorPlace& place) {
    const std::string line = std::to_string(std::max<std::int64_t>(place.line, 1));
    const std::string column = std::to_string(std::max<std::int64_t>(place.column, 1));
    std::vector<std::string> arguments;
    bool has_file = false;
    for (const QString& split : QProcess::splitCommand(QString::fromStdString(command))) {
        const std::string word = split.toStdString();
        std::string argument;
        for (std::size_t at = 0; at < word.size(); ++at) {
            const char code = word[at] == '%' && at + 1 < word.size() ? word[at + 1] : '\0';
            switch (code) {
                case '%':
                    argument += '%';
                    break;
                case 'f':
                    argument += place.path;
                    has_file = true;
                    break;
                case 'l':
                    argument += line;
                    break;
                case 'c':
                    argument += column;
                    break;
                default:
                    argument += word[at];
                    continue;
            }
            ++at;
        }
        arguments.push_back(std::move(argument));
    }
    if (!arguments.empty() && !has_file) {
        arguments.push_back(place.path);
    }
    return arguments;
}

}  // namespace ferret
