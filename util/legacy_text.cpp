#include "util/legacy_text.h"

#include <strings.h>
#include <uchardet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <type_traits>

#include "util/file_handle.h"

namespace ferret {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Runs `cd` over `in` into the end of `out`, growing it. Returns iconv's error (0 when all of
// `in` went), with `in` left at what was not taken.
int Run(iconv_t cd, std::string_view& in, std::string& out) {
    char* from = const_cast<char*>(in.data());
    std::size_t from_left = in.size();
    for (;;) {
        const std::size_t used = out.size();
        out.resize(used + from_left * 4 + 16);
        char* to = out.data() + used;
        std::size_t to_left = out.size() - used;
        const std::size_t done =
            iconv(cd, from_left != 0 ? &from : nullptr, &from_left, &to, &to_left);
        const int error = done == static_cast<std::size_t>(-1) ? errno : 0;
        out.resize(out.size() - to_left);
        in = in.substr(in.size() - from_left);
        if (error != E2BIG) {
            return error;
        }
    }
}

bool IsUtf8Name(const std::string& name) {
    return strcasecmp(name.c_str(), "UTF-8") == 0 || strcasecmp(name.c_str(), "UTF8") == 0;
}

}  // namespace

Iconv::~Iconv() {
    if (ok()) {
        iconv_close(cd_);
    }
}

void Iconv::Reset() {
    if (ok()) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
}

std::string GuessEncoding(std::string_view sample) {
    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(
        uchardet_new(), uchardet_delete);
    if (!detector || uchardet_handle_data(detector.get(), sample.data(), sample.size()) != 0) {
        return {};
    }
    uchardet_data_end(detector.get());
    std::string name = uchardet_get_charset(detector.get());
    if (name == "ISO-8859-1") {
        name = "WINDOWS-1252";
    }
    // The text is not UTF-8 (nor ASCII, a part of it): a guess of either is no guess.
    if (name == "UTF-8" || name == "ASCII") {
        return {};
    }
    return KnownEncoding(name) ? name : std::string();
}

bool KnownEncoding(const std::string& name) {
    return !name.empty() && Iconv("UTF-8", name).ok() && Iconv(name, "UTF-8").ok();
}

LegacyDecoder::LegacyDecoder(const std::string& encoding)
    : decode_("UTF-8", encoding), encode_(encoding, "UTF-8") {}

std::size_t LegacyDecoder::Convert(std::string_view bytes, std::string& utf8, bool last) {
    std::string_view in = bytes;
    while (!in.empty()) {
        const std::size_t from = utf8.size();
        const std::string_view start = in;
        const int error = Run(decode_.get(), in, utf8);
        CheckBack(start.substr(0, start.size() - in.size()), std::string_view(utf8).substr(from));
        if (error == EINVAL && !last) {
            break;  // a character cut short: it waits for the next piece
        }
        if (error != 0) {
            // Bytes the encoding does not hold, or a character the text ends in the middle of.
            utf8 += kReplacement;
            in.remove_prefix(1);
            decode_.Reset();
            exact_ = false;
        }
    }
    return bytes.size() - in.size();
}

void LegacyDecoder::CheckBack(std::string_view bytes, std::string_view utf8) {
    if (!exact_ || bytes.empty()) {
        return;
    }
    back_.clear();
    std::string_view in = utf8;
    // A text that decodes but does not encode back to its bytes (two byte sequences for one
    // character) would be rewritten differently where nothing was asked to change.
    if (Run(encode_.get(), in, back_) != 0 || back_ != bytes) {
        exact_ = false;
    }
}

void LegacyDecoder::Decode(std::string_view bytes, std::string& utf8) {
    if (!waiting_.empty()) {
        // Enough of the new piece to finish the character that waits.
        const std::size_t joined = std::min<std::size_t>(bytes.size(), 8);
        std::string head = waiting_ + std::string(bytes.substr(0, joined));
        const std::size_t taken = Convert(head, utf8, false);
        if (taken < waiting_.size()) {
            waiting_ = head.substr(taken);  // still cut short: the piece was tiny
            return;
        }
        bytes.remove_prefix(taken - waiting_.size());
        waiting_.clear();
    }
    const std::size_t taken = Convert(bytes, utf8, false);
    waiting_.assign(bytes.substr(taken));
}

void LegacyDecoder::Finish(std::string& utf8) {
    if (!waiting_.empty()) {
        Convert(waiting_, utf8, true);
        waiting_.clear();
    }
}

bool LegacyEncoder::Encode(std::string_view utf8, std::string& out) {
    if (!Append(utf8, out)) {
        return false;
    }
    End(out);
    return true;
}

bool LegacyEncoder::Append(std::string_view utf8, std::string& out) {
    std::string_view in = utf8;
    if (Run(encode_.get(), in, out) == 0) {
        return true;
    }
    encode_.Reset();
    return false;
}

void LegacyEncoder::End(std::string& out) {
    // What a stateful encoding needs to end in its initial state.
    char end[16];
    char* to = end;
    std::size_t to_left = sizeof end;
    iconv(encode_.get(), nullptr, nullptr, &to, &to_left);
    out.append(end, to);
}

std::string LegacyEncodingOf(std::string_view head, const EncodingChoice& choice) {
    if (!choice.forced.empty()) {
        return IsUtf8Name(choice.forced) ? std::string() : choice.forced;
    }
    if (std::memchr(head.data(), 0, head.size()) != nullptr) {
        return {};  // binary: its bytes are searched as they are
    }
    // A character cut by the end of what was read is not held against the text.
    std::size_t whole = head.size();
    for (std::size_t back = 1; back <= std::min<std::size_t>(3, whole); ++back) {
        const auto byte = static_cast<unsigned char>(head[whole - back]);
        if ((byte & 0xC0) == 0xC0) {
            whole -= back;
            break;
        }
        if ((byte & 0xC0) != 0x80) {
            break;
        }
    }
    if (IsValidUtf8(head.substr(0, whole))) {
        return {};
    }
    std::string guess = GuessEncoding(head);
    return guess.empty() ? choice.fallback : guess;
}

std::unique_ptr<PieceDecoder> MakeDecoder(ByteOrderMark mark, const std::string& legacy) {
    if (mark == ByteOrderMark::kUtf16LE || mark == ByteOrderMark::kUtf16BE) {
        return std::make_unique<Utf16Decoder>(mark == ByteOrderMark::kUtf16BE);
    }
    if (mark != ByteOrderMark::kNone || legacy.empty()) {
        return nullptr;
    }
    auto decoder = std::make_unique<LegacyDecoder>(legacy);
    if (!decoder->ok()) {
        return nullptr;
    }
    return decoder;
}

std::string EncodingName(ByteOrderMark mark, const std::string& legacy) {
    switch (mark) {
        case ByteOrderMark::kUtf16LE:
            return "UTF-16LE";
        case ByteOrderMark::kUtf16BE:
            return "UTF-16BE";
        case ByteOrderMark::kUtf8:
            return "UTF-8";
        case ByteOrderMark::kNone:
            break;
    }
    return legacy.empty() ? "UTF-8" : legacy;
}

std::string FileEncodingName(int fd, const EncodingChoice& choice) {
    std::string head(kEncodingSample, '\0');
    const ReadResult got = ReadFullAt(fd, head.data(), head.size(), 0);
    if (got.failed()) {
        return {};
    }
    head.resize(got.bytes);
    const ByteOrderMark mark = DetectByteOrderMark(head);
    if (mark != ByteOrderMark::kNone) {
        return EncodingName(mark, {});
    }
    const std::string legacy = LegacyEncodingOf(head, choice);
    if (legacy.empty() && head.find('\0') != std::string::npos) {
        return {};
    }
    return EncodingName(mark, legacy);
}

ByteOrderMark FileTextInEncoding(std::string_view bytes, const EncodingChoice& choice,
                                 std::string& storage, std::string_view& text, std::string& legacy,
                                 bool* exact) {
    legacy.clear();
    const ByteOrderMark mark = FileTextAsUtf8(bytes, storage, text, exact);
    if (mark != ByteOrderMark::kNone) {
        return mark;
    }
    legacy = LegacyEncodingOf(bytes.substr(0, kEncodingSample), choice);
    const std::unique_ptr<PieceDecoder> decoder = MakeDecoder(mark, legacy);
    if (!decoder) {
        legacy.clear();
        return mark;
    }
    storage.clear();
    storage.reserve(bytes.size());
    decoder->Decode(bytes, storage);
    decoder->Finish(storage);
    text = storage;
    if (exact != nullptr) {
        *exact = decoder->exact();
    }
    return mark;
}

}  // namespace ferret
