#include "preview/text_marks.h"

#include <array>

#include "engine/content_search.h"
#include "engine/regex.h"
#include "util/legacy_text.h"
#include "util/text_encoding.h"

namespace ferret {
namespace {

// The characters Windows-1252 puts where Latin-1 has control codes; 0 where it has none.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

QString DecodeFileText(std::string_view bytes, const EncodingChoice& choice, QString* encoding) {
    std::string storage;
    std::string_view text;
    std::string legacy;
    const ByteOrderMark mark = FileTextInEncoding(bytes, choice, storage, text, legacy);
    const bool decoded =
        mark == ByteOrderMark::kUtf16LE || mark == ByteOrderMark::kUtf16BE || !legacy.empty();
    if (decoded || IsValidUtf8(text)) {
        if (encoding != nullptr) {
            *encoding = QString::fromStdString(EncodingName(mark, legacy));
        }
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    if (encoding != nullptr) {
        *encoding = QStringLiteral("WINDOWS-1252");
    }
    QString shown(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = shown.data();
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        const char16_t high = c >= 0x80 && c < 0xA0 ? kWindows1252High[c - 0x80] : 0;
        *out++ = QChar(high != 0 ? high : static_cast<char16_t>(c));
    }
    return shown;
}

std::vector<TextMark> FindPlainMarks(const QString& text, const QString& find, bool ignore_case) {
    std::vector<TextMark> marks;
    if (find.isEmpty()) {
        return marks;
    }
    const Qt::CaseSensitivity sensitivity = ignore_case ? Qt::CaseInsensitive : Qt::CaseSensitive;
    qsizetype from = 0;
    while (true) {
        const qsizetype at = text.indexOf(find, from, sensitivity);
        if (at < 0) {
            break;
        }
        marks.push_back({static_cast<int>(at), static_cast<int>(find.size())});
        from = at + find.size();
    }
    return marks;
}

Status FindPatternMarks(const QString& text, const std::string& pattern, bool ignore_case,
                        std::vector<TextMark>& marks) {
    marks.clear();
    RegExp regex;
    if (Status compiled = regex.Compile(pattern, ignore_case); !compiled.ok()) {
        return compiled;
    }
    // The expression works on UTF-8; its byte offsets are turned back into UTF-16 positions by
    // walking both texts together, once, since matches come in order.
    const QByteArray utf8 = text.toUtf8();
    std::size_t byte = 0;
    int unit = 0;
    const auto advance_to = [&](std::size_t target) {
        while (byte < target) {
            const auto c = static_cast<unsigned char>(utf8[static_cast<qsizetype>(byte)]);
            const std::size_t width = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            byte += width;
            unit += width == 4 ? 2 : 1;
        }
    };
    return regex.ForEachMatch(std::string_view(utf8.constData(), utf8.size()),
                              [&](const RegexMatch& match) {
                                  advance_to(match.first_index);
                                  const int start = unit;
                                  advance_to(match.first_index + match.length);
                                  marks.push_back({start, unit - start});
                                  return true;
                              });
}

Status FindRunMarks(const QString& text, const QString& find, bool regex, bool ignore_case,
                    bool whole_word, std::vector<TextMark>& marks) {
    if (!regex && !whole_word) {
        marks = FindPlainMarks(text, find, ignore_case);
        return {};
    }
    if (find.isEmpty()) {
        marks.clear();
        return {};
    }
    const std::string typed = find.toStdString();
    const std::string pattern = regex ? typed : RegExEncodeString(typed);
    return FindPatternMarks(text, whole_word ? WholeWordPattern(pattern) : pattern, ignore_case,
                            marks);
}

}  // namespace ferret
