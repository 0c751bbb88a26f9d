// The profile-file reader and writer (IniFile, the ".frs" search settings and the search history)
// on arbitrary file bytes.
//
// The input is the content of a profile file. On it:
// - LoadSearchSettings succeeds, and what it loaded, saved again, loads back equal;
// - every key IniFile lists has a value, and the history reader gives what IniFile gives key by
// key;
// - a IniFile write of a generated key succeeds exactly when the names and value can be stored,
//   reads back equal, and leaves every other key, section and their order as they were;
// - a generated history list written into the file reads back as written, the other sections
//   untouched.
// The generated names, values and settings are taken from the same bytes.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "settings/ini_file.h"
#include "settings/search_config.h"
#include "settings/search_history.h"
#include "util/app_paths.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

using fuzz::Printable;

// A key's value is never this: no profile line holds a line feed.
const std::string kMissing = "\n(missing)\n";
// Bounds on what one run compares, so that a file of many keys stays quick to check.
constexpr std::size_t kMaxSections = 16;
constexpr std::size_t kMaxKeys = 16;

// Windows-1252 as the standard has it; the five unassigned bytes stand for the C1 controls.
std::string FromWindows1252(std::string_view bytes) {
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte, out);
    }
    return out;
}

std::string WithoutNuls(std::string text) {
    std::erase(text, '\0');
    return text;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

// What a file holds as IniFile reads it: its sections in order, and for the first kMaxSections of
// them their first kMaxKeys keys in order with their values.
struct Contents {
    std::vector<std::string> sections;
    std::vector<std::vector<std::pair<std::string, std::string>>> keys;
};

Contents Read(const std::string& path) {
    Contents contents;
    IniFile ini;
    ini.SetPath(path);
    ini.SetDefault(kMissing);
    ini.EnumerateAllSections(contents.sections);
    for (std::size_t s = 0; s < contents.sections.size() && s < kMaxSections; ++s) {
        ini.SetSection(contents.sections[s]);
        std::vector<std::string> names;
        ini.EnumerateCurrentSection(names);
        auto& keys = contents.keys.emplace_back();
        for (std::size_t k = 0; k < names.size() && k < kMaxKeys; ++k) {
            ini.SetKey(names[k]);
            keys.emplace_back(names[k], ini.Value());
            FUZZ_CHECK(keys.back().second != kMissing,
                       "listed key " + Printable(names[k]) + " of section " +
                           Printable(contents.sections[s]) + " has no value");
        }
    }
    return contents;
}

std::string Describe(const Contents& contents) {
    std::string text;
    for (std::size_t s = 0; s < contents.sections.size(); ++s) {
        text += "[" + Printable(contents.sections[s]) + "]\n";
        if (s < contents.keys.size()) {
            for (const auto& [name, value] : contents.keys[s]) {
                text += "  " + Printable(name) + " = " + Printable(value) + "\n";
            }
        }
    }
    return text;
}

// `contents` without the section `section` (when `drop_section`) or without its key `key`.
Contents Without(Contents contents, std::string_view section, std::string_view key,
                 bool drop_section) {
    Contents out;
    for (std::size_t s = 0; s < contents.sections.size(); ++s) {
        const bool match = EqualsIgnoringCase(contents.sections[s], section);
        if (match && drop_section) {
            continue;
        }
        out.sections.push_back(contents.sections[s]);
        if (s < contents.keys.size()) {
            auto keys = std::move(contents.keys[s]);
            if (match) {
                std::erase_if(
                    keys, [&](const auto& entry) { return EqualsIgnoringCase(entry.first, key); });
            }
            out.keys.push_back(std::move(keys));
        }
    }
    return out;
}

bool SameContents(const Contents& a, const Contents& b) {
    if (a.sections != b.sections) {
        return false;
    }
    const std::size_t shared = std::min(a.keys.size(), b.keys.size());
    for (std::size_t s = 0; s < shared; ++s) {
        if (a.keys[s] != b.keys[s]) {
            return false;
        }
    }
    return true;
}

std::string DescribeSettings(const SearchSettings& s) {
    return "search=" + Printable(s.search) + " replace=" + Printable(s.replace) +
           " path=" + Printable(s.path) + " mask=" + Printable(s.file_mask) +
           " sub=" + std::to_string(s.sub_folders) + " case=" + std::to_string(s.ignore_case) +
           " regex=" + std::to_string(s.regex);
}

bool SameSettings(const SearchSettings& a, const SearchSettings& b) {
    return a.search == b.search && a.replace == b.replace && a.path == b.path &&
           a.file_mask == b.file_mask && a.sub_folders == b.sub_folders &&
           a.ignore_case == b.ignore_case && a.regex == b.regex;
}

void CheckSearchSettings(const std::string& file, const std::string& bytes) {
    SearchSettings loaded;
    const Status status = LoadSearchSettings(file, loaded);
    FUZZ_CHECK(status.ok(), status.description());
    // Whatever was loaded can be saved, unless a text holds a carriage return (a lone CR inside a
    // line is read as part of the value), and then loads back the same.
    const std::string again_file = fuzz::TempRoot() + "/again.frs";
    const Status saved = SaveSearchSettings(again_file, loaded);
    const bool storable = !HasLineBreak(loaded.search) && !HasLineBreak(loaded.replace) &&
                          !HasLineBreak(loaded.path) && !HasLineBreak(loaded.file_mask);
    FUZZ_CHECK(saved.ok() == storable, "save of loaded " + DescribeSettings(loaded) + ": " +
                                           saved.description() + "\nfile " + Printable(bytes));
    if (saved.ok()) {
        SearchSettings reloaded;
        FUZZ_CHECK(LoadSearchSettings(again_file, reloaded).ok(), again_file);
        // A NUL in a line is read as part of its value, but saving drops it.
        for (std::string* text :
             {&loaded.search, &loaded.replace, &loaded.path, &loaded.file_mask}) {
            *text = WithoutNuls(*text);
        }
        FUZZ_CHECK(SameSettings(loaded, reloaded), "loaded " + DescribeSettings(loaded) +
                                                       "\nreloaded " + DescribeSettings(reloaded));
    }
}

void CheckGeneratedSettings(FuzzedDataProvider& input) {
    SearchSettings written;
    written.search = input.ConsumeRandomLengthString(40);
    written.replace = input.ConsumeRandomLengthString(40);
    written.path = input.ConsumeRandomLengthString(40);
    written.file_mask = input.ConsumeRandomLengthString(40);
    written.sub_folders = input.ConsumeIntegral<std::int32_t>();
    written.ignore_case = input.ConsumeIntegral<std::int32_t>();
    written.regex = input.ConsumeIntegral<std::int32_t>();
    const std::string file = fuzz::TempRoot() + "/written.frs";
    unlink(file.c_str());
    const std::string* texts[] = {&written.search, &written.replace, &written.path,
                                  &written.file_mask};
    bool storable = true;
    bool utf8 = true;
    for (const std::string* text : texts) {
        storable = storable && !HasLineBreak(*text);
        utf8 = utf8 && fuzz::IsValidUtf8(WithoutNuls(*text));
    }
    const Status saved = SaveSearchSettings(file, written);
    FUZZ_CHECK(saved.ok() == storable, DescribeSettings(written) + ": " + saved.description());
    if (!saved.ok()) {
        bool exists = true;
        fuzz::ReadFile(file, &exists);
        FUZZ_CHECK(!exists, "a refused save left a file");
        return;
    }
    SearchSettings loaded;
    FUZZ_CHECK(LoadSearchSettings(file, loaded).ok(), file);
    // NULs are dropped on saving; a file that is not UTF-8 as a whole is read as Windows-1252.
    SearchSettings expected = written;
    for (std::string* text :
         {&expected.search, &expected.replace, &expected.path, &expected.file_mask}) {
        *text = WithoutNuls(*text);
        if (!utf8) {
            *text = FromWindows1252(*text);
        }
    }
    FUZZ_CHECK(SameSettings(expected, loaded), "written  " + DescribeSettings(written) +
                                                   "\nexpected " + DescribeSettings(expected) +
                                                   "\nloaded   " + DescribeSettings(loaded));
}

void CheckIniWrite(const std::string& bytes, FuzzedDataProvider& input) {
    const std::string path = fuzz::TempRoot() + "/edit.ini";
    fuzz::WriteFile(path, bytes);
    const std::string section = input.ConsumeRandomLengthString(16);
    const std::string key = input.ConsumeRandomLengthString(16);
    const std::string value = input.ConsumeRandomLengthString(32);
    // A value that is not UTF-8 turns the whole file into one read as Windows-1252, which changes
    // every other value too; that is the encoding rule, not an edit.
    if (!fuzz::IsValidUtf8(section) || !fuzz::IsValidUtf8(key) ||
        !fuzz::IsValidUtf8(WithoutNuls(value))) {
        return;
    }
    const Contents before = Read(path);
    IniFile ini;
    ini.SetPath(path);
    ini.SetSection(section);
    ini.SetKey(key);
    ini.SetDefault(kMissing);
    ini.SetValue(value);

    const std::string s = Trimmed(section);
    const std::string k = Trimmed(key);
    const bool names_storable = !s.empty() && s.find(']') == std::string::npos &&
                                !HasLineBreak(s) && !k.empty() && !HasLineBreak(k) &&
                                k.find('=') == std::string::npos && k.front() != ';' &&
                                k.front() != '[';
    const bool storable = names_storable && !HasLineBreak(value);
    const std::string where = "section " + Printable(section) + " key " + Printable(key) +
                              " value " + Printable(value) + "\nfile " + Printable(bytes);
    const bool names_with_nul = s.find('\0') != std::string::npos || k.find('\0') != k.npos;
    if (!names_with_nul) {
        FUZZ_CHECK(ini.Success() == storable,
                   "write: " + ini.LastStatus().description() + "\n" + where);
    }
    if (!ini.Success()) {
        FUZZ_CHECK(fuzz::ReadFile(path) == bytes, "a refused write changed the file\n" + where);
        return;
    }
    FUZZ_CHECK(ini.Value() == WithoutNuls(value),
               "read back " + Printable(ini.Value()) + "\n" + where);
    const Contents after = Read(path);
    const bool new_section =
        std::none_of(before.sections.begin(), before.sections.end(),
                     [&](const std::string& name) { return EqualsIgnoringCase(name, s); });
    const Contents others_before = Without(before, s, k, new_section);
    const Contents others_after = Without(after, s, k, new_section);
    FUZZ_CHECK(SameContents(others_before, others_after),
               "before:\n" + Describe(before) + "after:\n" + Describe(after) + where);
    if (new_section) {
        FUZZ_CHECK(!after.sections.empty() && EqualsIgnoringCase(after.sections.back(), s),
                   "a new section goes at the end\n" + Describe(after) + where);
    }
}

// The history as IniFile reads it key by key: each key of the section once, empty values left out.
std::vector<std::string> HistoryByKeys(std::size_t limit) {
    IniFile ini;
    ini.SetPath(DataFilePath("ferret.dat"));
    ini.SetSection("Search List");
    ini.SetDefault(kMissing);
    std::vector<std::string> names;
    ini.EnumerateCurrentSection(names);
    std::vector<std::string> values;
    for (std::size_t i = 0; i < names.size() && i < limit; ++i) {
        ini.SetKey(names[i]);
        std::string value = ini.Value();
        FUZZ_CHECK(value != kMissing, "history key " + Printable(names[i]) + " has no value");
        if (!value.empty()) {
            values.push_back(std::move(value));
        }
    }
    return values;
}

std::string DescribeList(const std::vector<std::string>& list) {
    std::string text;
    for (const std::string& entry : list) {
        text += Printable(entry) + " ";
    }
    return text;
}

void CheckHistory(const std::string& bytes, FuzzedDataProvider& input) {
    const std::string path = DataFilePath("ferret.dat");
    fuzz::WriteFile(path, bytes);
    const std::vector<std::string> list = GetSearchList();
    constexpr std::size_t kLimit = 64;
    const std::vector<std::string> by_keys = HistoryByKeys(kLimit);
    FUZZ_CHECK(
        by_keys.size() <= list.size() && std::equal(by_keys.begin(), by_keys.end(), list.begin()),
        "history " + DescribeList(list) + "\nby keys " + DescribeList(by_keys) + "\nfile " +
            Printable(bytes));

    std::vector<std::string> entries;
    const int count = input.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count; ++i) {
        entries.push_back(input.ConsumeRandomLengthString(24));
    }
    std::vector<std::string> expected;
    for (const std::string& entry : entries) {
        const std::string stored = WithoutNuls(entry);
        if (!fuzz::IsValidUtf8(stored)) {
            return;  // the file would be read as Windows-1252 as a whole: see CheckIniWrite
        }
        if (!stored.empty() && !HasLineBreak(stored)) {
            expected.push_back(stored);
        }
    }
    const Contents before = Read(path);
    const Status status = WriteSearchList(entries);
    FUZZ_CHECK(status.ok(), status.description());
    const std::vector<std::string> stored = GetSearchList();
    FUZZ_CHECK(stored == expected, "wrote " + DescribeList(entries) + "\nread " +
                                       DescribeList(stored) + "\nfile " + Printable(bytes));
    const Contents after = Read(path);
    FUZZ_CHECK(
        SameContents(Without(before, "Search List", "", true),
                     Without(after, "Search List", "", true)),
        "before:\n" + Describe(before) + "after:\n" + Describe(after) + "file " + Printable(bytes));
}

}  // namespace
}  // namespace ferret

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ferret::fuzz::TempRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferret;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string file = fuzz::TempRoot() + "/input.frs";
    fuzz::WriteFile(file, bytes);
    CheckSearchSettings(file, bytes);
    Read(file);  // every listed key has a value

    FuzzedDataProvider input(data, size);
    CheckGeneratedSettings(input);
    CheckIniWrite(bytes, input);
    CheckHistory(bytes, input);
    return 0;
}
