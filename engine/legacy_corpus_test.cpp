// Files in the encodings of their languages, made with iconv from real texts (the translations
// of dpkg and apt on this machine and a licence) are searched and replaced as their UTF-8
// originals are.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/content_replace.h"
#include "engine/content_search.h"
#include "engine/regex.h"
#include "engine/text_blocks.h"
#include "testsupport/gettext_messages.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using namespace std::string_literals;

using testing::RunProgram;
using testing::TempDir;

struct Case {
    const char* language;
    const char* encoding;
};

constexpr Case kCases[] = {{"fr", "WINDOWS-1252"}, {"de", "ISO-8859-1"}, {"fr", "ISO-8859-15"},
                           {"pl", "ISO-8859-2"},   {"cs", "ISO-8859-2"}, {"ru", "WINDOWS-1251"},
                           {"ru", "KOI8-R"},       {"el", "ISO-8859-7"}, {"ja", "SHIFT_JIS"},
                           {"ja", "EUC-JP"},       {"zh_CN", "GB18030"}, {"zh_TW", "BIG5"},
                           {"ko", "EUC-KR"}};

// The translations of the language's dpkg and apt messages, about `size` bytes of them.
std::string Translations(const std::string& language, std::size_t size) {
    std::string text;
    for (const char* domain : {"dpkg", "apt"}) {
        for (const std::string& message : testing::CatalogueMessages(
                 "/usr/share/locale/" + language + "/LC_MESSAGES/" + domain + ".mo")) {
            if (text.size() >= size) {
                return text;
            }
            text += message;
            text += '\n';
        }
    }
    return text;
}

std::string Converted(const std::string& from, const std::string& to, const std::string& path) {
    const testing::ProgramResult converted =
        RunProgram("/usr/bin/iconv", {"-c", "-f", from, "-t", to, path});
    return converted.out;
}

// A few texts of `text` to look for: words (at most four characters of one) holding letters
// beyond ASCII, from its start, middle and end.
std::vector<std::string> WordsIn(const std::string& text) {
    std::vector<std::string> words;
    for (const double at : {0.1, 0.5, 0.9}) {
        std::size_t start = static_cast<std::size_t>(static_cast<double>(text.size()) * at);
        while (start < text.size() && static_cast<unsigned char>(text[start]) < 0x80) {
            ++start;  // to a letter beyond ASCII
        }
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            --start;  // to its first byte
        }
        std::size_t end = start;
        for (int characters = 0; end < text.size() && characters < 4; ++characters) {
            const auto byte = static_cast<unsigned char>(text[end]);
            if (byte < 0x80 && !std::isalpha(byte)) {
                break;
            }
            ++end;
            while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
                ++end;
            }
        }
        if (end > start) {
            words.push_back(text.substr(start, end - start));
        }
    }
    return words;
}

// The text of the file at `path` as a search reads it, and the legacy encoding it was read in.
std::string TextRead(const std::string& path, const EncodingChoice& choice, std::string& legacy) {
    const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    TextBlocks blocks(fd.get(), choice);
    std::string text;
    while (blocks.Next(0)) {
        text.append(blocks.text());
    }
    legacy = blocks.legacy();
    return text;
}

struct Counts {
    std::vector<std::int32_t> values;
    std::vector<std::string> lines;
    bool operator==(const Counts& other) const {
        return values == other.values && lines == other.lines;
    }
};

// Every way a run searches, for each of `words`: plain, ignoring case, as a pattern; the hit
// lines of the plain search.
Counts SearchAll(const std::string& path, const std::vector<std::string>& words,
                 const EncodingChoice& choice) {
    Counts counts;
    const std::atomic<bool> stop{false};
    for (const std::string& word : words) {
        for (const bool ignore_case : {false, true}) {
            counts.values.push_back(SearchFileText(AT_FDCWD, path, PlainMatcher(word, ignore_case),
                                                   stop, {}, false, false, choice));
        }
        RegExp pattern;
        EXPECT_TRUE(pattern.Compile(SearchPattern(word, false) + "\\S*", true).ok());
        counts.values.push_back(
            SearchFilePattern(AT_FDCWD, path, pattern, nullptr, {}, nullptr, false, choice));
        FileHits hits;
        counts.values.push_back(SearchFileHitLines(AT_FDCWD, path, PlainMatcher(word, false),
                                                   nullptr, nullptr, 0, {}, hits, nullptr, false,
                                                   {}, false, false, choice));
        for (const HitLine& line : hits.lines) {
            counts.lines.push_back(std::to_string(line.number) + ":" + std::to_string(line.column) +
                                   ":" + line.text);
        }
    }
    return counts;
}

// ASCII texts to look for, which are found among a legacy file's bytes as they are: letters a
// Shift_JIS or Big5 character may end in, and the first ASCII text of `text` that follows a
// character beyond ASCII with nothing between.
std::vector<std::string> AsciiWordsIn(const std::string& text) {
    std::vector<std::string> words = {"a", "e", "n", "@", "%s", "ing", "A", "]"};
    for (std::size_t at = text.size() / 3; at + 1 < text.size(); ++at) {
        if (static_cast<unsigned char>(text[at]) >= 0x80 &&
            static_cast<unsigned char>(text[at + 1]) < 0x80 && std::isalnum(text[at + 1])) {
            std::size_t end = at + 1;
            while (end < text.size() && end < at + 5 && std::isalnum(text[end])) {
                ++end;
            }
            words.push_back(text.substr(at + 1, end - at - 1));
            break;
        }
    }
    return words;
}

TEST(LegacyCorpus, SearchesAndReplacesCountAndWriteAsTheUtf8Originals) {
    const TempDir dir;
    std::string licence;
    ASSERT_TRUE(ReadAll(Fd(open("/usr/share/common-licenses/GPL-3", O_RDONLY)).get(), licence));
    int files = 0;
    int guessed = 0;
    std::vector<std::string> earlier_words;
    std::string wrong;
    for (const Case& test : kCases) {
        const std::string translations = Translations(test.language, 16 * 1024);
        ASSERT_GT(translations.size(), 4000u) << test.language << ": its translations are missing";
        // A page of translations, and a licence with a little of them at its end.
        for (const std::string& made :
             {translations, licence.substr(0, 8000) + translations.substr(0, 1500)}) {
            const std::string stem = std::string(test.language) + "." + test.encoding +
                                     (made.size() == translations.size() ? "" : ".mixed");
            SCOPED_TRACE(stem);
            ++files;
            dir.WriteFile(stem + ".made", made);
            dir.WriteFile(stem + ".txt",
                          Converted("UTF-8", test.encoding, dir.Path(stem + ".made")));
            // What iconv could carry over, in UTF-8: the original.
            const std::string original = Converted(test.encoding, "UTF-8", dir.Path(stem + ".txt"));
            dir.WriteFile(stem + ".utf8", original);
            const std::string legacy_path = dir.Path(stem + ".txt");

            // The file's own encoding, found: told right when its text is the original's.
            std::string found;
            const bool right = TextRead(legacy_path, kFoundEncodings, found) == original;
            if (right) {
                ++guessed;
            } else {
                wrong += " " + stem + " (read as " + found + ")";
            }
            const EncodingChoice forced{test.encoding, {}};
            std::string legacy;
            ASSERT_EQ(TextRead(legacy_path, forced, legacy), original);

            const std::vector<std::string> words = WordsIn(original);
            ASSERT_EQ(words.size(), 3u);
            const Counts in_utf8 = SearchAll(dir.Path(stem + ".utf8"), words, kFoundEncodings);
            EXPECT_GT(in_utf8.values[0], 0);
            EXPECT_EQ(SearchAll(legacy_path, words, forced), in_utf8);
            if (right) {
                EXPECT_EQ(SearchAll(legacy_path, words, kFoundEncodings), in_utf8);
            }
            // The words of the files before, in other languages and encodings: most files are
            // passed over without their encoding, as they hold them in none.
            const Counts others_in_utf8 =
                SearchAll(dir.Path(stem + ".utf8"), earlier_words, kFoundEncodings);
            EXPECT_EQ(SearchAll(legacy_path, earlier_words, forced), others_in_utf8);
            if (right) {
                EXPECT_EQ(SearchAll(legacy_path, earlier_words, kFoundEncodings), others_in_utf8);
            }
            earlier_words.insert(earlier_words.end(), words.begin(), words.end());
            // ASCII texts count the same whether the file's encoding is known or not.
            const std::vector<std::string> ascii = AsciiWordsIn(original);
            const Counts ascii_in_utf8 =
                SearchAll(dir.Path(stem + ".utf8"), ascii, kFoundEncodings);
            EXPECT_EQ(SearchAll(legacy_path, ascii, forced), ascii_in_utf8);
            if (right) {
                EXPECT_EQ(SearchAll(legacy_path, ascii, kFoundEncodings), ascii_in_utf8);
            }

            // Each word replaced by the next: the file is iconv's of the UTF-8 file so replaced.
            RegExp pattern;
            ASSERT_TRUE(pattern.Compile(SearchPattern(words[0], false), false).ok());
            const std::string copy = dir.Path(stem + ".copy");
            dir.WriteFile(stem + ".copy", dir.ReadFile(stem + ".txt"));
            FilePlace place(copy);
            place.encoding = &forced;
            const RewriteResult replaced = ReplaceFilePattern(place, pattern, words[1]);
            const RewriteResult replaced_utf8 =
                ReplaceFilePattern(dir.Path(stem + ".utf8"), pattern, words[1]);
            EXPECT_EQ(replaced.count, replaced_utf8.count) << replaced.error;
            EXPECT_EQ(dir.ReadFile(stem + ".copy"),
                      Converted("UTF-8", test.encoding, dir.Path(stem + ".utf8")));
        }
    }
    std::printf("[ encodings ] %d of %d files read in their own encoding;%s%s\n", guessed, files,
                wrong.empty() ? " none wrong" : " wrong:", wrong.c_str());
    // The guess fails on encodings that differ only in a few letters (ISO-8859-15 read as
    // windows-1252) and on short texts; it must hold for most.
    EXPECT_GE(guessed * 10, files * 8);
}

// A long log or dump may hold its first letter beyond ASCII far from its start: the file is read
// in the encoding of the text from there, whether only read, written back, read whole or told.
TEST(LegacyCorpus, AFileLongAsciiFromItsStartIsReadInTheEncodingOfWhatFollows) {
    const TempDir dir;
    std::string licence;
    ASSERT_TRUE(ReadAll(Fd(open("/usr/share/common-licenses/GPL-3", O_RDONLY)).get(), licence));
    std::string ascii;
    while (ascii.size() < 3 * kEncodingSample) {
        ascii += licence;
    }
    const EncodingChoice found = kFoundEncodings;
    for (const Case& test : {Case{"fr", "WINDOWS-1252"}, Case{"ru", "KOI8-R"}, Case{"ja", "EUC-JP"},
                             Case{"pl", "ISO-8859-2"}}) {
        const std::string stem = std::string(test.language) + "." + test.encoding;
        SCOPED_TRACE(stem);
        dir.WriteFile(stem + ".made", ascii + Translations(test.language, 8 * 1024));
        dir.WriteFile(stem + ".txt", Converted("UTF-8", test.encoding, dir.Path(stem + ".made")));
        const std::string original = Converted(test.encoding, "UTF-8", dir.Path(stem + ".txt"));
        dir.WriteFile(stem + ".utf8", original);
        const std::string path = dir.Path(stem + ".txt");

        std::string legacy;
        EXPECT_EQ(TextRead(path, found, legacy), original);
        EXPECT_EQ(legacy, test.encoding);
        const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        EXPECT_EQ(FileEncodingName(fd.get(), found), test.encoding);
        std::string storage;
        std::string_view text;
        FileTextInEncoding(dir.ReadFile(stem + ".txt"), found, storage, text, legacy);
        EXPECT_EQ(text, original);

        // Counts and hit lines, of words beyond ASCII and of ASCII ones, whose lines are
        // decoded where they hold more.
        std::vector<std::string> words = WordsIn(original);
        const std::vector<std::string> ascii_words = AsciiWordsIn(original);
        words.insert(words.end(), ascii_words.begin(), ascii_words.end());
        EXPECT_EQ(SearchAll(path, words, found), SearchAll(dir.Path(stem + ".utf8"), words, found));

        // A word beyond ASCII put in the ASCII start is written in the file's encoding, as is
        // one put in place of another.
        for (const auto& [from, to] :
             {std::pair{words[0], words[1]}, std::pair{"License"s, words[2]}}) {
            RegExp pattern;
            ASSERT_TRUE(pattern.Compile(SearchPattern(from, false), false).ok());
            dir.WriteFile(stem + ".copy", dir.ReadFile(stem + ".txt"));
            dir.WriteFile(stem + ".copy.utf8", original);
            const RewriteResult replaced =
                ReplaceFilePattern(dir.Path(stem + ".copy"), pattern, to);
            const RewriteResult replaced_utf8 =
                ReplaceFilePattern(dir.Path(stem + ".copy.utf8"), pattern, to);
            EXPECT_GT(replaced.count, 0) << from;
            EXPECT_EQ(replaced.count, replaced_utf8.count) << replaced.error;
            EXPECT_EQ(dir.ReadFile(stem + ".copy"),
                      Converted("UTF-8", test.encoding, dir.Path(stem + ".copy.utf8")))
                << from;
        }
    }
}

}  // namespace
}  // namespace ferret
