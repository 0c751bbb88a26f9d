// The ways a text is written in legacy encodings rule out files without guessing their encoding:
// never one that holds a hit.

#include "engine/legacy_forms.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/plain_matcher.h"
#include "testsupport/gettext_messages.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::RunProgram;
using testing::TempDir;

struct Text {
    const char* text;
    bool ignore_case;
};

constexpr Text kTexts[] = {{"é", false},   {"файл", false}, {"ФАЙЛ", true},
                           {"DPKG", true}, {"の", false},   {"Ω", true}};

// `text` in `encoding` by iconv; empty when it cannot be written there.
std::string Encoded(const std::string& text, const std::string& encoding, const TempDir& dir) {
    dir.WriteFile("text.utf8", text);
    const testing::ProgramResult made =
        RunProgram("/usr/bin/iconv", {"-f", "UTF-8", "-t", encoding, dir.Path("text.utf8")});
    return made.exit_code == 0 ? made.out : std::string();
}

TEST(LegacyForms, EveryEncodingsWaysAreAmongThoseOfAll) {
    const TempDir dir;
    for (const Text& each : kTexts) {
        SCOPED_TRACE(each.text);
        const PlainMatcher matcher(each.text, each.ignore_case);
        LegacyForms forms(matcher.CharacterVariants(), GuessableEncodings());
        const FormSet* const all = forms.All();
        if (all == nullptr) {
            continue;  // windows-1258 may write it as a letter and an accent
        }
        for (const std::string& encoding : GuessableEncodings()) {
            SCOPED_TRACE(encoding);
            const FormSet* const own = forms.In(encoding);
            ASSERT_NE(own, nullptr);
            for (const std::string& form : own->forms()) {
                EXPECT_TRUE(std::find(all->forms().begin(), all->forms().end(), form) !=
                            all->forms().end())
                    << form;
            }
            // The text as iconv writes it, among other text, holds one of the ways.
            const std::string written =
                Encoded(std::string("a ") + each.text + " b", encoding, dir);
            if (!written.empty()) {
                EXPECT_TRUE(own->HeldIn(written));
                EXPECT_TRUE(all->HeldIn(written));
            }
        }
    }
}

// A thread looks for the ways of every encoding only after it met a few dozen legacy files: the
// files' answers are the same either way.
TEST(LegacyForms, FilesHoldingAHitAreReadWhetherTheWaysOfAllAreMadeOrNot) {
    const TempDir dir;
    std::vector<std::string> paths;
    const std::pair<const char*, const char*> kCases[] = {
        {"fr", "WINDOWS-1252"}, {"ru", "WINDOWS-1251"}, {"ru", "KOI8-R"},     {"ja", "EUC-JP"},
        {"ja", "SHIFT_JIS"},    {"el", "ISO-8859-7"},   {"pl", "ISO-8859-2"}, {"zh_TW", "BIG5"}};
    for (const auto& [language, encoding] : kCases) {
        const std::vector<std::string> messages = testing::CatalogueMessages(
            std::string("/usr/share/locale/") + language + "/LC_MESSAGES/dpkg.mo");
        ASSERT_GT(messages.size(), 40u) << language;
        // Files of a few messages each: some hold the texts, most do not.
        for (std::size_t at = 0; at + 4 <= 40; at += 4) {
            std::string text;
            for (std::size_t i = at; i < at + 4; ++i) {
                text += messages[i] + "\n";
            }
            const std::string name =
                std::string(language) + "." + encoding + "." + std::to_string(at) + ".txt";
            dir.WriteFile(name + ".utf8", text);
            dir.WriteFile(name, RunProgram("/usr/bin/iconv", {"-c", "-f", "UTF-8", "-t", encoding,
                                                              dir.Path(name + ".utf8")})
                                    .out);
            paths.push_back(dir.Path(name));
        }
    }
    ASSERT_GT(paths.size(), 64u);
    for (const Text& each : kTexts) {
        SCOPED_TRACE(each.text);
        const PlainMatcher matcher(each.text, each.ignore_case);
        std::vector<std::optional<std::string>> first;
        for (int pass = 0; pass < 2; ++pass) {
            for (std::size_t i = 0; i < paths.size(); ++i) {
                const Fd fd(open(paths[i].c_str(), O_RDONLY | O_CLOEXEC));
                std::string head;
                ASSERT_TRUE(ReadAll(fd.get(), head));
                const std::optional<std::string> read =
                    LegacyEncodingForHits(fd.get(), head, head, &matcher, kFoundEncodings);
                if (pass == 0) {
                    first.push_back(read);
                } else {
                    EXPECT_EQ(read, first[i]) << paths[i];
                }
            }
        }
        // Something was read and something passed over, or the test shows nothing.
        EXPECT_TRUE(std::any_of(first.begin(), first.end(), [](const auto& r) { return r; }));
        EXPECT_TRUE(std::any_of(first.begin(), first.end(), [](const auto& r) { return !r; }));
    }
}

}  // namespace
}  // namespace ferret
