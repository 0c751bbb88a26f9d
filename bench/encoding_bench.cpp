// How well and how fast the encoding of text that is not UTF-8 is guessed, on real texts: the
// translations of the programs on this machine (/usr/share/locale/LANG/LC_MESSAGES/*.mo), each
// language written in the encodings its users' files are in. A guess is right when it decodes
// the text to the same characters (windows-1252 for ISO-8859-1 text is right). Texts of several
// sizes, each made of whole messages.
//   encoding_bench [SAMPLES]     (default 20 texts of each size for each language and encoding)

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#ifdef FERRET_BENCH_ICU
#include <unicode/ucsdet.h>
#endif

#include "testsupport/gettext_messages.h"
#include "util/legacy_text.h"

namespace {

#ifdef FERRET_BENCH_ICU
// ICU's guess of the encoding of `bytes`, the other detector at hand, to compare with.
std::string IcuGuess(const std::string& bytes) {
    UErrorCode status = U_ZERO_ERROR;
    UCharsetDetector* detector = ucsdet_open(&status);
    ucsdet_setText(detector, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    const UCharsetMatch* match = ucsdet_detect(detector, &status);
    std::string name = U_SUCCESS(status) && match != nullptr ? ucsdet_getName(match, &status) : "";
    ucsdet_close(detector);
    return U_SUCCESS(status) ? name : std::string();
}
#endif

// A guess that is not sure gives no encoding, rather than the fallback.
const ferret::EncodingChoice kUnsureIsNone{"", ""};

bool HasNonAscii(const std::string& text) {
    for (const unsigned char c : text) {
        if (c >= 0x80) {
            return true;
        }
    }
    return false;
}

std::string Decode(const std::string& encoding, const std::string& bytes) {
    ferret::LegacyDecoder decoder(encoding);
    std::string text;
    if (!decoder.ok()) {
        return text;
    }
    decoder.Decode(bytes, text);
    decoder.Finish(text);
    return text;
}

// Text mostly ASCII with a name or word beyond it here and there, as an old site's pages and
// most code and configuration are: the copyright files of the installed packages
// (/usr/share/doc/*/copyright) that hold letters beyond ASCII, each in windows-1252 where it holds
// them. Read with the fallback a run uses (windows-1252), as a sparse text is often unsure.
void SparseAccents() {
    int all = 0;
    int right = 0;
    std::map<std::string, int> wrong;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/share/doc", error)) {
        std::ifstream file(entry.path() / "copyright", std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(file), {}};
        std::string bytes;
        if (!HasNonAscii(text) || !ferret::LegacyEncoder("WINDOWS-1252").Encode(text, bytes) ||
            Decode("WINDOWS-1252", bytes) != text) {
            continue;
        }
        ++all;
        const std::string guess = ferret::LegacyEncodingOf(bytes.substr(0, ferret::kEncodingSample),
                                                           ferret::kFoundEncodings);
        if (Decode(guess, bytes) == text) {
            ++right;
        } else {
            ++wrong["as " + guess];
        }
    }
    std::printf("sparse accents (copyright files in windows-1252): right %d of %d (%.1f%%)\n",
                right, all, all != 0 ? 100.0 * right / all : 0.0);
    for (const auto& [what, times] : wrong) {
        std::printf("  %3d × %s\n", times, what.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::atoi(argv[1]) : 20;
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"fr", "WINDOWS-1252"}, {"de", "ISO-8859-1"},   {"es", "WINDOWS-1252"},
        {"fr", "ISO-8859-15"},  {"pl", "ISO-8859-2"},   {"cs", "ISO-8859-2"},
        {"hu", "ISO-8859-2"},   {"ru", "WINDOWS-1251"}, {"ru", "KOI8-R"},
        {"uk", "WINDOWS-1251"}, {"el", "ISO-8859-7"},   {"ja", "SHIFT_JIS"},
        {"ja", "EUC-JP"},       {"zh_CN", "GB18030"},   {"zh_TW", "BIG5"},
        {"ko", "EUC-KR"}};
    const std::vector<std::size_t> sizes = {100, 300, 1000, 3000, 10000};
    std::printf("%-6s %-13s", "lang", "encoding");
    for (const std::size_t size : sizes) {
        std::printf(" %8zu B", size);
    }
    std::printf("   right of texts, by size\n");
    int all = 0;
    int right = 0;
    double seconds = 0;
    std::map<std::string, int> wrong;
    int icu_right = 0;
    double icu_seconds = 0;
    for (const auto& [language, encoding] : cases) {
        // Messages with letters beyond ASCII that the encoding holds exactly.
        std::vector<std::pair<std::string, std::string>> messages;
        const std::filesystem::path folder =
            std::filesystem::path("/usr/share/locale") / language / "LC_MESSAGES";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            for (std::string& message : ferret::testing::CatalogueMessages(entry.path())) {
                std::string bytes;
                if (HasNonAscii(message) &&
                    ferret::LegacyEncoder(encoding).Encode(message, bytes) &&
                    Decode(encoding, bytes) == message) {
                    messages.emplace_back(std::move(message), std::move(bytes));
                }
            }
        }
        std::printf("%-6s %-13s", language, encoding);
        std::size_t next = 0;
        for (const std::size_t size : sizes) {
            int texts = 0;
            int guessed = 0;
            for (int sample = 0; sample < samples && next < messages.size(); ++sample) {
                std::string text;
                std::string bytes;
                while (bytes.size() < size && next < messages.size()) {
                    text += messages[next].first + "\n";
                    bytes += messages[next].second + "\n";
                    ++next;
                }
                ++texts;
                const auto start = std::chrono::steady_clock::now();
                const std::string guess = ferret::LegacyEncodingOf(bytes, kUnsureIsNone);
                seconds +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (!guess.empty() && Decode(guess, bytes) == text) {
                    ++guessed;
                } else {
                    ++wrong[std::string(encoding) + " as " + (guess.empty() ? "?" : guess)];
                }
#ifdef FERRET_BENCH_ICU
                const auto icu_start = std::chrono::steady_clock::now();
                const std::string icu = IcuGuess(bytes);
                icu_seconds +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - icu_start)
                        .count();
                icu_right += !icu.empty() && Decode(icu, bytes) == text ? 1 : 0;
#endif
            }
            std::printf(" %5d/%-4d", guessed, texts);
            all += texts;
            right += guessed;
        }
        std::printf("%s\n", messages.empty() ? "   (no texts on this machine)" : "");
    }
    std::printf("right: %d of %d (%.1f%%), %.3f ms a guess\n", right, all,
                all != 0 ? 100.0 * right / all : 0.0, all != 0 ? 1000 * seconds / all : 0.0);
    for (const auto& [what, times] : wrong) {
        std::printf("  %3d × %s\n", times, what.c_str());
    }
#ifdef FERRET_BENCH_ICU
    std::printf("ICU's detector on the same texts: right %d of %d (%.1f%%), %.3f ms a guess\n",
                icu_right, all, all != 0 ? 100.0 * icu_right / all : 0.0,
                all != 0 ? 1000 * icu_seconds / all : 0.0);
#endif
    SparseAccents();
    return 0;
}
