#include "reports/hit_line_text.h"

#include <charconv>

#include "reports/quoted_name.h"

namespace ferret {
namespace {

void AppendNumber(std::string& out, std::int64_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out.append(digits, end);
}

}  // namespace

void AppendQuickfixLine(std::string& out, std::string_view path, const HitLine& line) {
    AppendQuotedName(out, path);
    AppendQuickfixPlace(out, line);
}

void AppendQuickfixPlace(std::string& out, const HitLine& line) {
    if (line.page > 0) {
        out += "#page=";
        AppendNumber(out, line.page);
    }
    out += ':';
    AppendNumber(out, line.number);
    out += ':';
    AppendNumber(out, line.column);
    out += ": ";
    AppendEscapedText(out, line.text);
    out += '\n';
}

}  // namespace ferret
