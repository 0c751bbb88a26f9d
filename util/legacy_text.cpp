#include "util/legacy_text.h"

#include <strings.h>
#include <uchardet.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <vector>

#include <QChar>
#include <QString>

#include "util/file_handle.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Runs `cd` over `in` into the end of `out`. Returns iconv's error (0 when all of `in` went),
// with `in` left at what was not taken. Converts through a buffer of its own: a call costs what
// it converts, however often a text full of bad bytes calls it again.
int Run(iconv_t cd, std::string_view& in, std::string& out) {
    char* from = const_cast<char*>(in.data());
    std::size_t from_left = in.size();
    char buffer[16 * 1024];
    for (;;) {
        char* to = buffer;
        std::size_t to_left = sizeof buffer;
        const std::size_t done =
            iconv(cd, from_left != 0 ? &from : nullptr, &from_left, &to, &to_left);
        const int error = done == static_cast<std::size_t>(-1) ? errno : 0;
        out.append(buffer, static_cast<std::size_t>(to - buffer));
        in = std::string_view(from, from_left);
        if (error != E2BIG) {
            return error;
        }
    }
}

// A single-byte encoding as a table: what each byte decodes to, and whether that encodes back
// to the byte.
struct ByteTable {
    std::array<std::array<char, 4>, 256> utf8{};
    std::array<std::uint8_t, 256> length{};  // 0: the byte is not in the encoding
    std::array<bool, 256> exact{};
    bool ascii = true;  // bytes below 80 are themselves
};

// The table of `encoding`, made once for the process; null when it is not an encoding of one
// byte a character that decodes each byte alone (iconv then does the work).
std::shared_ptr<const ByteTable> MakeByteTable(const std::string& encoding) {
    Iconv decode("UTF-8", encoding);
    Iconv encode(encoding, "UTF-8");
    if (!decode.ok() || !encode.ok()) {
        return nullptr;
    }
    auto table = std::make_shared<ByteTable>();
    std::string all;   // every byte the encoding holds, in order
    std::string each;  // what they decode to one by one
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        std::string_view in(&byte, 1);
        std::string out;
        decode.Reset();
        const int error = Run(decode.get(), in, out);
        if (error == EILSEQ) {
            continue;
        }
        if (error != 0 || out.empty() || out.size() > 4) {
            return nullptr;  // a byte that starts a longer character, or a shift
        }
        std::memcpy(table->utf8[value].data(), out.data(), out.size());
        table->length[value] = static_cast<std::uint8_t>(out.size());
        std::string_view text = out;
        std::string back;
        encode.Reset();
        table->exact[value] =
            Run(encode.get(), text, back) == 0 && back.size() == 1 && back[0] == byte;
        table->ascii = table->ascii && (value >= 0x80 || (out.size() == 1 && out[0] == byte));
        all.push_back(byte);
        each += out;
    }
    // Encodings that join characters (windows-1258 composes accents) decode a run differently
    // from its bytes alone.
    std::string_view in = all;
    std::string together;
    decode.Reset();
    if (Run(decode.get(), in, together) != 0 || together != each) {
        return nullptr;
    }
    return table;
}

std::shared_ptr<const ByteTable> ByteTableOf(const std::string& encoding) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const ByteTable>> tables;
    std::lock_guard lock(mutex);
    const auto [at, made] = tables.try_emplace(encoding);
    if (made) {
        at->second = MakeByteTable(encoding);
    }
    return at->second;
}

// Decodes a single-byte encoding by its table.
class ByteTableDecoder final : public PieceDecoder {
  public:
    explicit ByteTableDecoder(std::shared_ptr<const ByteTable> table) : table_(std::move(table)) {}

    void Decode(std::string_view bytes, std::string& utf8) override {
        const ByteTable& table = *table_;
        const std::size_t start = utf8.size();
        utf8.resize(start + bytes.size() * 4);  // a character takes at most 4 bytes
        char* out = utf8.data() + start;
        const char* const data = bytes.data();
        const std::size_t size = bytes.size();
        bool exact = exact_;
        for (std::size_t at = 0; at < size;) {
            // Most such text is ASCII between its letters: runs of it are copied whole.
            if (table.ascii && static_cast<unsigned char>(data[at]) < 0x80) {
                std::size_t run = at + 1;
                for (std::uint64_t word = 0; run + sizeof word <= size; run += sizeof word) {
                    std::memcpy(&word, data + run, sizeof word);
                    if ((word & 0x8080808080808080ULL) != 0) {
                        break;
                    }
                }
                while (run < size && static_cast<unsigned char>(data[run]) < 0x80) {
                    ++run;
                }
                std::memcpy(out, data + at, run - at);
                out += run - at;
                at = run;
                continue;
            }
            // Cyrillic or Greek words: a letter after another, each by the table.
            do {
                const auto value = static_cast<unsigned char>(data[at++]);
                const std::uint8_t length = table.length[value];
                if (length == 0) {
                    std::memcpy(out, kReplacement.data(), kReplacement.size());
                    out += kReplacement.size();
                    exact = false;
                    continue;
                }
                std::memcpy(out, table.utf8[value].data(), 4);
                out += length;
                exact = exact && table.exact[value];
            } while (at < size && (!table.ascii || static_cast<unsigned char>(data[at]) >= 0x80));
        }
        exact_ = exact;
        utf8.resize(static_cast<std::size_t>(out - utf8.data()));
    }
    void Finish(std::string&) override {}
    bool exact() const override { return exact_; }

  private:
    std::shared_ptr<const ByteTable> table_;
    bool exact_ = true;
};

// What the guess of `head`'s encoding looks at: its lines that hold bytes beyond ASCII (a long
// one around its first such byte), up to 512 bytes or 256 beyond ASCII. ASCII tells the
// encodings apart little, and the guess takes time by the byte.
std::string GuessSample(std::string_view head) {
    constexpr std::size_t kSample = 512;
    // The guess takes its time over the bytes beyond ASCII: text dense with them (Cyrillic, East
    // Asian) tells its encoding as surely from half as many.
    constexpr std::size_t kHighBytes = 256;
    constexpr std::size_t kLine = 1024;
    std::string sample;
    std::size_t high_count = 0;
    for (std::size_t start = 0; start < head.size() && sample.size() < kSample;) {
        const std::size_t feed = head.find('\n', start);
        const std::size_t end = feed == std::string_view::npos ? head.size() : feed + 1;
        const std::string_view line = head.substr(start, end - start);
        start = end;
        const auto high = std::find_if(
            line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        if (high == line.end()) {
            continue;
        }
        const std::size_t first = static_cast<std::size_t>(high - line.begin());
        const std::size_t from = first > kLine / 4 ? first - kLine / 4 : 0;
        const std::string_view part = line.substr(from, kLine);
        std::size_t take = 0;
        for (; take < part.size() && high_count < kHighBytes; ++take) {
            high_count += static_cast<unsigned char>(part[take]) >= 0x80 ? 1 : 0;
        }
        // Cut between characters: below 0x30 no byte ends a character of more than one.
        while (take < part.size() && static_cast<unsigned char>(part[take]) >= 0x30) {
            ++take;
        }
        sample.append(part.substr(0, take));
        if (sample.back() != '\n') {
            sample.push_back('\n');
        }
        if (high_count >= kHighBytes) {
            break;
        }
    }
    return sample;
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
    // The text is not UTF-8 (nor ASCII, a part of it): a guess of either is no guess. Nor are the
    // seven-bit encodings, guessed for text whose only bytes beyond ASCII are no-break spaces,
    // nor UTF-16 or UTF-32 without a NUL byte: every guess left keeps ASCII (KeepsAscii), and is
    // one a search may look for a text's forms in (CharacterForms).
    const std::vector<std::string>& guessable = GuessableEncodings();
    if (std::find(guessable.begin(), guessable.end(), name) == guessable.end()) {
        return {};
    }
    // Asked once per thread and name: opening converters costs more than the guess.
    thread_local std::map<std::string, bool> known;
    const auto [at, added] = known.try_emplace(name, false);
    if (added) {
        at->second = KnownEncoding(name);
    }
    return at->second ? name : std::string();
}

const std::vector<std::string>& GuessableEncodings() {
    static const std::vector<std::string> kGuessable = [] {
        // As uchardet names them (its Korean is UHC, EUC-KR with more syllables).
        std::vector<std::string> names = {"WINDOWS-1250",
                                          "WINDOWS-1251",
                                          "WINDOWS-1252",
                                          "WINDOWS-1253",
                                          "WINDOWS-1255",
                                          "WINDOWS-1256",
                                          "WINDOWS-1257",
                                          "WINDOWS-1258",
                                          "KOI8-R",
                                          "IBM852",
                                          "IBM855",
                                          "IBM866",
                                          "MAC-CENTRALEUROPE",
                                          "MAC-CYRILLIC",
                                          "TIS-620",
                                          "VISCII",
                                          "SHIFT_JIS",
                                          "EUC-JP",
                                          "EUC-KR",
                                          "UHC",
                                          "EUC-TW",
                                          "GB18030",
                                          "BIG5"};
        for (const int part : {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 16}) {
            names.push_back("ISO-8859-" + std::to_string(part));
        }
        return names;
    }();
    return kGuessable;
}

bool IsPortableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 0x20 && c < 0x7F && c != '\\' && c != '~') || c == '\t' || c == '\n' ||
               c == '\r';
    });
}

bool KeepsAscii(const std::string& encoding) {
    // East Asian encodings whose characters of two bytes or more all begin beyond ASCII (their
    // later bytes may be ASCII), windows-1258, whose accents join the letter before them, and
    // windows-1255, whose points join some Hebrew letters.
    static constexpr const char* kKept[] = {
        "SHIFT_JIS", "SJIS", "CP932",      "WINDOWS-31J", "EUC-JP",       "EUC-JP-MS",   "EUC-KR",
        "CP949",     "UHC",  "JOHAB",      "EUC-TW",      "GB18030",      "GBK",         "GB2312",
        "EUC-CN",    "BIG5", "BIG5-HKSCS", "CP950",       "WINDOWS-1258", "WINDOWS-1255"};
    if (std::any_of(std::begin(kKept), std::end(kKept),
                    [&](const char* kept) { return strcasecmp(kept, encoding.c_str()) == 0; })) {
        return true;
    }
    const std::shared_ptr<const ByteTable> table = ByteTableOf(encoding);
    if (!table) {
        return false;
    }
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const bool portable = IsPortableAscii(std::string_view(&byte, 1));
        const bool one = table->length[value] == 1;
        const char decoded = table->utf8[value][0];
        if (portable ? !one || decoded != byte : one && IsPortableAscii({&decoded, 1})) {
            return false;
        }
    }
    return true;
}

bool KeepsAscii(const EncodingChoice& choice) {
    thread_local EncodingChoice asked{"-", "-"};
    thread_local bool kept = false;
    if (asked.forced != choice.forced || asked.fallback != choice.fallback) {
        asked = choice;
        // The guesses all keep ASCII (GuessEncoding).
        kept = choice.forced.empty() ? KeepsAscii(choice.fallback)
                                     : IsUtf8Name(choice.forced) || KeepsAscii(choice.forced);
    }
    return kept;
}

namespace {

// The East Asian encodings a guess may give, whose forms of a character iconv tells.
constexpr const char* kEastAsian[] = {"SHIFT_JIS", "EUC-JP",  "EUC-KR", "UHC",
                                      "EUC-TW",    "GB18030", "BIG5"};

// The characters Big5 writes in two ways (box drawing and two numerals, kept twice by some
// tables); the other East Asian encodings a guess gives write each character one way.
constexpr std::string_view kBig5Twins[][2] = {{"\xA2\xA4", "\xF9\xF9"}, {"\xA2\xA5", "\xF9\xE9"},
                                              {"\xA2\xA7", "\xF9\xEB"}, {"\xA2\xA6", "\xF9\xEA"},
                                              {"\xA2\x7E", "\xF9\xFA"}, {"\xA2\xA1", "\xF9\xFB"},
                                              {"\xA2\xA3", "\xF9\xFD"}, {"\xA2\xA2", "\xF9\xFC"},
                                              {"\xA2\xCC", "\xA4\x51"}, {"\xA2\xCE", "\xA4\xCA"}};

}  // namespace

std::optional<std::vector<std::string>> CharacterForms(const std::string& encoding,
                                                       std::string_view character) {
    std::vector<std::string> forms;
    if (const std::shared_ptr<const ByteTable> table = ByteTableOf(encoding)) {
        for (int value = 0; value < 256; ++value) {
            if (table->length[value] == character.size() &&
                std::memcmp(table->utf8[value].data(), character.data(), character.size()) == 0) {
                forms.emplace_back(1, static_cast<char>(value));
            }
        }
        return forms;
    }
    const bool east_asian =
        std::any_of(std::begin(kEastAsian), std::end(kEastAsian),
                    [&](const char* name) { return strcasecmp(name, encoding.c_str()) == 0; });
    const bool joins = strcasecmp(encoding.c_str(), "WINDOWS-1258") == 0 ||
                       strcasecmp(encoding.c_str(), "WINDOWS-1255") == 0;
    if (!east_asian && !joins) {
        return std::nullopt;
    }
    char32_t code = 0;
    const QString text =
        QString::fromUtf8(character.data(), static_cast<qsizetype>(character.size()));
    if (!text.isEmpty()) {
        code = text.at(0).isHighSurrogate() && text.size() > 1
                   ? QChar::surrogateToUcs4(text.at(0), text.at(1))
                   : text.at(0).unicode();
    }
    // windows-1258 writes an accented letter whole or as the letter and its accent, which reads
    // back as the whole letter; windows-1255 joins some Hebrew letters and points so.
    if (joins && !QChar::decomposition(code).isEmpty()) {
        return std::nullopt;
    }
    Iconv encode(encoding, "UTF-8");
    std::string_view in = character;
    std::string form;
    if (!encode.ok() || Run(encode.get(), in, form) != 0 || form.empty()) {
        return forms;  // not in the encoding
    }
    forms.push_back(form);
    if (strcasecmp(encoding.c_str(), "BIG5") == 0) {
        for (const auto& twins : kBig5Twins) {
            if (form == twins[0] || form == twins[1]) {
                forms.emplace_back(form == twins[0] ? twins[1] : twins[0]);
            }
        }
    }
    // EUC-TW writes the characters of its first plane with two bytes, or four that name it.
    if (strcasecmp(encoding.c_str(), "EUC-TW") == 0 && form.size() == 2) {
        forms.push_back("\x8E\xA1" + form);
    }
    return forms;
}

bool AsciiHitIsText(std::string_view before, bool from_file_start, int after) {
    // windows-1258 joins an accent to the letter before it.
    if (after == 0xCC || after == 0xD2 || after == 0xDE || after == 0xEC || after == 0xF2) {
        return false;
    }
    // The bytes beyond ASCII just before the hit; the byte before them ends a character.
    std::size_t start = before.size();
    while (start > 0 && static_cast<unsigned char>(before[start - 1]) >= 0x80) {
        --start;
    }
    if (start == 0 && !from_file_start) {
        return false;  // where they begin is not at hand
    }
    // In Big5, GBK, GB18030 and UHC every character beyond ASCII is two bytes (or four, whose
    // third begins beyond ASCII again): an odd run ends in a first byte, which takes the hit's.
    if ((before.size() - start) % 2 != 0) {
        return false;
    }
    // In Shift_JIS half-width katakana are one byte, the rest two.
    std::size_t at = start;
    while (at < before.size()) {
        const auto byte = static_cast<unsigned char>(before[at]);
        at +=
            (byte >= 0xA1 && byte <= 0xDF) || byte == 0x80 || byte == 0xA0 || byte >= 0xFD ? 1 : 2;
    }
    return at == before.size();
}

bool KnownEncoding(const std::string& name) {
    return !name.empty() && Iconv("UTF-8", name).ok() && Iconv(name, "UTF-8").ok();
}

LegacyDecoder::LegacyDecoder(const std::string& encoding, bool check_exact)
    : decode_("UTF-8", encoding), encode_(encoding, "UTF-8"), check_exact_(check_exact) {}

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
            if (!in.empty()) {
                in.remove_prefix(1);  // glibc's CP949 may take a bad pair whole, and say so
            }
            decode_.Reset();
            exact_ = false;
        }
    }
    return bytes.size() - in.size();
}

void LegacyDecoder::CheckBack(std::string_view bytes, std::string_view utf8) {
    if (!check_exact_ || !exact_ || bytes.empty()) {
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

bool ReadAsBytes(std::string_view head, const EncodingChoice& choice) {
    if (!choice.forced.empty()) {
        return IsUtf8Name(choice.forced);
    }
    if (IsAsciiWithoutNul(head)) {
        return true;
    }
    if (std::memchr(head.data(), 0, head.size()) != nullptr) {
        return true;  // binary: its bytes are searched as they are
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
    return IsValidUtf8(head.substr(0, whole));
}

namespace {

// Encodings the guess gives for a few accented names in mostly-ASCII text (a copyright file, a
// page's footer) more often wrongly than rightly: old Mac and DOS code pages, and the Nordic part
// of ISO-8859. (Esperanto's and Romanian's parts are guessed rightly for their few letters.)
bool RarelyMeant(const std::string& encoding) {
    static constexpr std::array<std::string_view, 6> kRare = {
        "MAC-CENTRALEUROPE", "MAC-CYRILLIC", "IBM852", "IBM855", "IBM866", "ISO-8859-10"};
    return std::find(kRare.begin(), kRare.end(), encoding) != kRare.end();
}

// Whether the bytes beyond ASCII of `sample` stand alone or in pairs, as accents in Latin words
// do, and not in the runs of Cyrillic, Greek or East Asian words.
bool SparseBeyondAscii(std::string_view sample) {
    std::size_t run = 0;
    for (const char c : sample) {
        run = static_cast<unsigned char>(c) >= 0x80 ? run + 1 : 0;
        if (run > 2) {
            return false;
        }
    }
    return true;
}

// Whether `encoding` reads every byte beyond ASCII of `sample` as a letter or a sign that goes
// with names in Latin text ("©", "«", "–", "’", a no-break space): not as the other signs a DOS
// code page's letters are in windows-1252 ("¾", "¢", "ˆ"), nor as a capital after a small
// letter.
bool ReadsAsLatinText(std::string_view sample, const std::string& encoding) {
    static constexpr std::array<char32_t, 15> kSigns = {0xA0,   0xA9,   0xAB,   0xAE,   0xB0,
                                                        0xB7,   0xBB,   0x2013, 0x2014, 0x2018,
                                                        0x2019, 0x201C, 0x201D, 0x2022, 0x2026};
    const std::unique_ptr<PieceDecoder> decoder =
        MakeDecoder(ByteOrderMark::kNone, encoding, false);
    if (!decoder) {
        return false;
    }
    std::string text;
    decoder->Decode(sample, text);
    decoder->Finish(text);
    char32_t before = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t c = DecodeUtf8(text, pos);
        if (c >= 0x80 && !QChar::isLetter(c) &&
            std::find(kSigns.begin(), kSigns.end(), c) == kSigns.end()) {
            return false;
        }
        // "arraysÑthe", "fontÕs": a Mac's dash and apostrophe, not a capital inside a word.
        if (c >= 0x80 && before >= 'a' && before <= 'z' && QChar::isUpper(c)) {
            return false;
        }
        before = c;
    }
    return true;
}

}  // namespace

std::string LegacyEncodingOfText(std::string_view head, const EncodingChoice& choice) {
    if (!choice.forced.empty()) {
        return choice.forced;
    }
    const std::string sample = GuessSample(head);
    std::string guess = GuessEncoding(sample);
    if (guess.empty() || (!choice.fallback.empty() && RarelyMeant(guess) &&
                          SparseBeyondAscii(sample) && ReadsAsLatinText(sample, choice.fallback))) {
        return choice.fallback;
    }
    return guess;
}

std::string LegacyEncodingOf(std::string_view head, const EncodingChoice& choice) {
    return ReadAsBytes(head, choice) ? std::string() : LegacyEncodingOfText(head, choice);
}

std::string_view EncodingSample(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, kEncodingSample);
    if (bytes.size() == head.size() || !IsAsciiWithoutNul(head)) {
        return head;
    }
    const std::size_t beyond = FirstBeyondAscii(bytes.substr(head.size()));
    return beyond == std::string_view::npos ? head
                                            : bytes.substr(head.size() + beyond, kEncodingSample);
}

std::string_view LaterEncodingSample(int fd, std::uint64_t from, std::string& storage) {
    storage.resize(kEncodingSample);
    for (;;) {
        const ReadResult got = ReadFullAt(fd, storage.data(), storage.size(), from);
        if (got.failed() || got.bytes == 0) {
            return {};
        }
        const std::size_t beyond = FirstBeyondAscii(std::string_view(storage.data(), got.bytes));
        if (beyond == std::string_view::npos) {
            from += got.bytes;
            continue;
        }
        if (beyond > 0) {
            const ReadResult sample = ReadFullAt(fd, storage.data(), storage.size(), from + beyond);
            if (sample.failed()) {
                return {};
            }
            return std::string_view(storage.data(), sample.bytes);
        }
        return std::string_view(storage.data(), got.bytes);
    }
}

std::optional<std::string> LaterLegacyEncoding(int fd, std::string_view read, std::uint64_t offset,
                                               const EncodingChoice& choice) {
    const std::size_t beyond = FirstBeyondAscii(read);
    if (beyond == std::string_view::npos) {
        return std::nullopt;
    }
    thread_local std::string storage;
    const std::string_view later = LaterEncodingSample(fd, offset + beyond, storage);
    return later.empty() ? std::string() : LegacyEncodingOf(later, choice);
}

std::unique_ptr<PieceDecoder> MakeDecoder(ByteOrderMark mark, const std::string& legacy,
                                          bool check_exact) {
    if (mark == ByteOrderMark::kUtf16LE || mark == ByteOrderMark::kUtf16BE) {
        return std::make_unique<Utf16Decoder>(mark == ByteOrderMark::kUtf16BE);
    }
    if (mark != ByteOrderMark::kNone || legacy.empty()) {
        return nullptr;
    }
    if (std::shared_ptr<const ByteTable> table = ByteTableOf(legacy)) {
        return std::make_unique<ByteTableDecoder>(std::move(table));
    }
    auto decoder = std::make_unique<LegacyDecoder>(legacy, check_exact);
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
    std::string later;
    const std::string_view sample = head.size() == kEncodingSample && IsAsciiWithoutNul(head)
                                        ? LaterEncodingSample(fd, head.size(), later)
                                        : std::string_view();
    const std::string legacy = LegacyEncodingOf(sample.empty() ? head : sample, choice);
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
    legacy = LegacyEncodingOf(EncodingSample(bytes), choice);
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
