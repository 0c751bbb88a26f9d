#include "reports/quoted_name.h"

namespace ferret {
namespace {

// The length of the control character at `at` (1, or 2 for a C1 control in UTF-8), or 0.
std::size_t ControlAt(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F) {
        return 1;
    }
    if (byte == 0xC2 && at + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[at + 1]);
        if (next >= 0x80 && next <= 0x9F) {
            return 2;
        }
    }
    return 0;
}

bool HoldsControl(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (ControlAt(text, at) > 0) {
            return true;
        }
    }
    return false;
}

void AppendEscape(std::string& out, unsigned char byte) {
    out += '\\';
    if (byte >= '\a' && byte <= '\r') {
        out += "abtnvfr"[byte - '\a'];  // the letters C gives bytes 7 to 13
        return;
    }
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

// `text` between double quotes, its control characters, double quotes and backslashes escaped.
void AppendCQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t control = ControlAt(text, at);
        if (control == 0) {
            if (text[at] == '"' || text[at] == '\\') {
                out += '\\';
            }
            out += text[at];
            continue;
        }
        for (const char byte : text.substr(at, control)) {
            AppendEscape(out, static_cast<unsigned char>(byte));
        }
        at += control - 1;
    }
    out += '"';
}

}  // namespace

void AppendQuotedName(std::string& out, std::string_view name) {
    if ((name.empty() || name.front() != '"') && !HoldsControl(name)) {
        out.append(name);
    } else {
        AppendCQuoted(out, name);
    }
}

std::string QuotedName(std::string_view name) {
    std::string out;
    AppendQuotedName(out, name);
    return out;
}

std::string PatchName(std::string_view name) {
    if ((name.empty() || name.front() != ' ') &&
        name.find_first_of("\"\\") == std::string_view::npos && !HoldsControl(name)) {
        return std::string(name);
    }
    std::string out;
    AppendCQuoted(out, name);
    return out;
}

std::string_view PatchNameEnd(std::string_view name) {
    return name.find(' ') != std::string_view::npos ? "\t" : "";
}

void AppendEscapedText(std::string& out, std::string_view text, bool keep_line_feeds) {
    if (!HoldsControl(text)) {
        out.append(text);
        return;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t control = ControlAt(text, at);
        if (control == 0 || text[at] == '\t' || (keep_line_feeds && text[at] == '\n')) {
            out += text[at];
            continue;
        }
        for (const char byte : text.substr(at, control)) {
            AppendEscape(out, static_cast<unsigned char>(byte));
        }
        at += control - 1;
    }
}

std::string EscapedText(std::string_view text, bool keep_line_feeds) {
    std::string out;
    AppendEscapedText(out, text, keep_line_feeds);
    return out;
}

}  // namespace ferret
