#include "util/text_fold.h"

#include <QChar>

namespace ferret {
namespace {

constexpr char32_t kInvalidByteBase = 0xDC00;

}  // namespace

void AppendUtf8(char32_t c, std::string& out) {
    if (c >= kInvalidByteBase && c <= kInvalidByteBase + 0xFF) {
        out.push_back(static_cast<char>(c - kInvalidByteBase));
    } else if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    }
    if (length == 0 || pos + length > text.size()) {
        ++pos;
        return kInvalidByteBase + lead;
    }
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return kInvalidByteBase + lead;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++pos;
        return kInvalidByteBase + lead;
    }
    pos += length;
    return value;
}

char32_t FoldNonAscii(char32_t c) {
    if (c >= kInvalidByteBase && c <= kInvalidByteBase + 0xFF) {
        return c;
    }
    return QChar::toCaseFolded(c);
}

std::string FoldCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[pos]);
        if (lead < 0x80) {  // the common case: no decoding needed
            out.push_back(static_cast<char>(FoldCodePoint(lead)));
            ++pos;
            continue;
        }
        AppendUtf8(FoldCodePoint(DecodeUtf8(text, pos)), out);
    }
    return out;
}

std::u32string FoldedCodePoints(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        out.push_back(FoldCodePoint(DecodeUtf8(text, pos)));
    }
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (FoldCodePoint(DecodeUtf8(a, i)) != FoldCodePoint(DecodeUtf8(b, j))) {
            return false;
        }
    }
    return i == a.size() && j == b.size();
}

}  // namespace ferret
