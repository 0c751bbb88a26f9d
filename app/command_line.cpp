#include "app/command_line.h"

#include <exception>

#include "settings/error_log.h"

namespace ferret {
namespace {

constexpr const char* kValueSwitches[] = {"-p",    "-k",    "-l",    "-s",    "-r",  "-config",
                                          "-hits", "-diff", "-json", "-skip", "-enc"};

bool IsValueSwitch(const std::string& argument) {
    for (const char* name : kValueSwitches) {
        if (argument == name) {
            return true;
        }
    }
    return false;
}

bool NeedsQuotes(const std::string& value) {
    return value.empty() || value.find_first_of(" -\"") != std::string::npos;
}

std::string Quoted(const std::string& value) {
    std::string text = "\"";
    for (char c : value) {
        text.push_back(c);
        if (c == '"') {
            text.push_back('"');
        }
    }
    text.push_back('"');
    return text;
}

std::string QuotedIfNeeded(const std::string& value) {
    return NeedsQuotes(value) ? Quoted(value) : value;
}

// One element of the split, and where its quoted text began (npos when it has none).
struct Piece {
    std::string text;
    std::size_t quoted_from = std::string::npos;
};

std::vector<Piece> SplitPieces(const std::string& text, char delimiter) {
    std::vector<Piece> pieces;
    Piece piece;
    bool in_quotes = false;
    const auto finish = [&] {
        if (!piece.text.empty()) {
            pieces.push_back(std::move(piece));
        }
        piece = Piece();
    };
    // Walks by index rather than cutting the text one character at a time: same result,
    // linear time.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == delimiter) {
            if (in_quotes) {
                piece.text.push_back(c);
            } else {
                finish();
            }
        } else if (c == '"') {
            if (!in_quotes) {
                in_quotes = true;
                piece.quoted_from = piece.text.size();
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                piece.text.push_back('"');
                ++i;
            } else {
                finish();
                in_quotes = false;
                ++i;  // the character after a closing quote is dropped
            }
        } else {
            piece.text.push_back(c);
        }
    }
    finish();
    return pieces;
}

// The element a piece gives: without the spaces around it, except those the user quoted. On a
// command line a blank at a value's end can only have been quoted on purpose.
std::string Trimmed(const Piece& piece) {
    // A quote ends its piece, so the quoted text, when there is one, is the piece's end.
    std::string text = piece.text;
    std::size_t end = text.size();
    while (end > 0 && end - 1 < piece.quoted_from && text[end - 1] == ' ') {
        --end;
    }
    text.resize(end);
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

bool EqualsAsciiIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

CommandLine::CommandLine(std::string raw_text) : raw_text_(std::move(raw_text)) {
    try {
        if (!raw_text_.empty()) {
            has_arguments_ = true;
            ProcessCommandLine();
        }
    } catch (const std::exception& error) {
        if (!LogError("clsCommandLine: Class_Initialize", kLogNumberUnexpected, error.what())) {
            log_failed_ = true;
        }
    }
}

std::string CommandLine::RebuildCommandLine(const std::vector<std::string>& arguments) {
    std::string text;
    bool value_expected = false;
    for (const std::string& argument : arguments) {
        if (!text.empty()) {
            text.push_back(' ');
        }
        if (value_expected) {
            text += QuotedIfNeeded(argument);
            value_expected = false;
        } else if (!argument.empty() && argument.front() == '-') {
            // A switch, perhaps given with its value in one argument ("-s some text").
            const std::size_t space = argument.find(' ');
            if (space == std::string::npos) {
                text += argument;
            } else {
                text += argument.substr(0, space + 1) + QuotedIfNeeded(argument.substr(space + 1));
            }
            value_expected = IsValueSwitch(argument);
        } else {
            text += QuotedIfNeeded(argument);
        }
    }
    return text;
}

std::vector<std::string> CommandLine::SplitArguments(const std::string& text, char delimiter) {
    std::vector<std::string> elements;
    for (Piece& piece : SplitPieces(text, delimiter)) {
        elements.push_back(std::move(piece.text));
    }
    return elements;
}

void CommandLine::ProcessCommandLine() {
    try {
        for (const Piece& piece : SplitPieces(raw_text_, '-')) {
            elements_.push_back(Trimmed(piece));
        }
        run_minimized_ = HasSwitch("m", true);
        use_regex_ = HasSwitch("rx", true);
        search_sub_folders_ = HasSwitch("b", true);
        exit_on_complete_ = HasSwitch("x", true);
        start_path_ = GetSwitchValue("p", ' ');
        file_mask_ = GetSwitchValue("k", ' ');
        log_path_ = GetSwitchValue("l", ' ');
        hits_path_ = GetSwitchValue("hits", ' ');
        json_path_ = GetSwitchValue("json", ' ');
        diff_path_ = GetSwitchValue("diff", ' ');
        search_string_ = GetSwitchValue("s", ' ');
        replace_string_ = GetSwitchValue("r", ' ');
        process_type_ = GetSwitchValue("e", ':');
        config_file_ = GetSwitchValue("config", ' ');
        ignore_case_ = HasSwitch("i", true);
        whole_word_ = HasSwitch("w", true);
        skip_folders_ = GetSwitchValue("skip", ' ');
        encoding_ = GetSwitchValue("enc", ' ');
        git_ignore_ = HasSwitch("gitignore", true);
        no_binary_ = HasSwitch("nobinary", true);
        inside_ = HasSwitch("z", true);
        undo_target_ = GetSwitchValue("undo", ' ');
        undo_ = HasSwitch("undo", true) || !undo_target_.empty();
    } catch (const std::exception& error) {
        if (!LogError("clsCommandLine: ProcessCommandLine", kLogNumberUnexpected, error.what())) {
            log_failed_ = true;
        }
    }
}

bool CommandLine::HasSwitch(const std::string& name, bool case_sensitive) const {
    for (const std::string& element : elements_) {
        if (case_sensitive ? element == name : EqualsAsciiIgnoringCase(element, name)) {
            return true;
        }
    }
    return false;
}

std::string CommandLine::GetSwitchValue(const std::string& name, char separator) const {
    for (const std::string& element : elements_) {
        if (element.compare(0, name.size(), name) != 0) {
            continue;
        }
        // The name must end the element or be followed by its separator, so "rx" is not a
        // value of "r" and "e search" is not a value of "e".
        if (element.size() == name.size()) {
            return {};
        }
        if (element[name.size()] != separator) {
            continue;
        }
        // The split has already taken away every quote that was not doubled, so the quotes left
        // at the ends of a value are the user's own: they stay.
        return element.substr(name.size() + 1);
    }
    return {};
}

}  // namespace ferret
