// Files in legacy encodings, searched and replaced by the ferret program in their own encoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "testsupport/ferret_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::Ferret;
using testing::ProgramResult;
using testing::TempDir;

// "Привет, мир!" in KOI8-R, a line of it, often enough to be told from the other Cyrillic
// encodings.
std::string Koi8Lines() {
    std::string bytes;
    for (int i = 0; i < 20; ++i) {
        bytes += "\xF0\xD2\xC9\xD7\xC5\xD4, \xCD\xC9\xD2!\n";
    }
    return bytes;
}

constexpr char kLatin[] = "<p>Un caf\xE9 cr\xE8me \x96 et un caf\xE9 noir.</p>\n";

TEST(EncodingRun, LegacyFilesAreSearchedReplacedAndToldInUtf8) {
    const TempDir dir;
    dir.WriteFile("site/latin.html", kLatin);
    dir.WriteFile("site/koi.txt", Koi8Lines());
    dir.WriteFile("site/utf.txt", "caf\xC3\xA9\n");
    const ProgramResult search = Ferret(
        {"-p", dir.Path("site"), "-k", "*", "-s", "caf\xC3\xA9", "-e:search", "-hits", "-", "-x"});
    ASSERT_EQ(search.exit_code, 0) << search.err;
    // Lines in UTF-8, columns in bytes of the UTF-8 line.
    EXPECT_NE(search.out.find("latin.html:1:7: <p>Un caf\xC3\xA9 cr\xC3\xA8me \xE2\x80\x93 et un "
                              "caf\xC3\xA9 noir.</p>\n"),
              std::string::npos)
        << search.out;
    EXPECT_NE(search.out.find("utf.txt:1:1: caf\xC3\xA9\n"), std::string::npos) << search.out;
    const ProgramResult cyrillic =
        Ferret({"-p", dir.Path("site"), "-k", "*", "-s", "\xD0\xBC\xD0\xB8\xD1\x80", "-e:search",
                "-hits", "-", "-x"});
    EXPECT_NE(cyrillic.out.find("koi.txt:20:15: \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
                                "\xD0\xBC\xD0\xB8\xD1\x80!\n"),
              std::string::npos)
        << cyrillic.out;

    // A patch is one UTF-8 text: a legacy file in it is named as binary.
    const ProgramResult diff = Ferret({"-p", dir.Path("site"), "-k", "*", "-s", "caf\xC3\xA9", "-r",
                                       "th\xC3\xA9", "-e:replace", "-diff", "-", "-x"});
    ASSERT_EQ(diff.exit_code, 0) << diff.err;
    EXPECT_NE(diff.out.find("Binary files latin.html and latin.html differ\n"), std::string::npos)
        << diff.out;
    EXPECT_NE(diff.out.find("-caf\xC3\xA9\n+th\xC3\xA9\n"), std::string::npos) << diff.out;

    const ProgramResult replace = Ferret({"-p", dir.Path("site"), "-k", "*", "-s", "caf\xC3\xA9",
                                          "-r", "th\xC3\xA9", "-e:replace", "-x"});
    ASSERT_EQ(replace.exit_code, 0) << replace.err;
    EXPECT_EQ(dir.ReadFile("site/latin.html"),
              "<p>Un th\xE9 cr\xE8me \x96 et un th\xE9 noir.</p>\n");
    EXPECT_EQ(dir.ReadFile("site/utf.txt"), "th\xC3\xA9\n");
    EXPECT_EQ(dir.ReadFile("site/koi.txt"), Koi8Lines());
}

// -enc reads every file without a mark in one encoding; a replacement it cannot hold leaves the
// file as it is and says why; an encoding the system does not know is refused.
TEST(EncodingRun, AForcedEncodingAndWhatItCannotHold) {
    const TempDir dir;
    dir.WriteFile("site/latin.html", kLatin);
    const ProgramResult refused =
        Ferret({"-p", dir.Path("site"), "-k", "*", "-enc", "ISO-8859-1", "-s", "caf\xC3\xA9", "-r",
                "\xE2\x82\xAC", "-e:replace", "-x"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE((refused.out + refused.err)
                  .find("the replacement cannot be written in ISO-8859-1, the file's encoding"),
              std::string::npos)
        << refused.out << refused.err;
    EXPECT_EQ(dir.ReadFile("site/latin.html"), kLatin);

    // Read as KOI8-R, the Latin text holds other letters.
    const ProgramResult koi = Ferret({"-p", dir.Path("site"), "-k", "*", "-enc", "KOI8-R", "-s",
                                      "caf\xC3\xA9", "-e:search", "-hits", "-", "-x"});
    EXPECT_EQ(koi.exit_code, 0) << koi.err;
    EXPECT_EQ(koi.out, "");

    const ProgramResult unknown = Ferret({"-p", dir.Path("site"), "-k", "*", "-enc", "NO-SUCH-8",
                                          "-s", "caf\xC3\xA9", "-e:search", "-x"});
    EXPECT_NE(unknown.exit_code, 0);
    EXPECT_NE((unknown.out + unknown.err).find("the encoding 'NO-SUCH-8' is not known"),
              std::string::npos)
        << unknown.out << unknown.err;
}

// A dump whose accents begin far into it, past the part of a file that is read first.
std::string LatinDump(const std::string& plain) {
    std::string bytes;
    for (int row = 1; row <= 2500; ++row) {
        bytes += "INSERT INTO t VALUES (" + std::to_string(row) + ", '" + plain + "');\n";
    }
    for (int row = 2501; row <= 2530; ++row) {
        bytes += "INSERT INTO t VALUES (" + std::to_string(row) + ", 'caf\xE9 cr\xE8me');\n";
    }
    return bytes;
}

TEST(EncodingRun, AFileWhoseAccentsBeginFarIntoItIsInTheirEncoding) {
    const TempDir dir;
    dir.WriteFile("site/dump.txt", LatinDump("plain"));
    const ProgramResult search = Ferret(
        {"-p", dir.Path("site"), "-k", "*", "-s", "caf\xC3\xA9", "-e:search", "-hits", "-", "-x"});
    ASSERT_EQ(search.exit_code, 0) << search.err;
    EXPECT_EQ(std::count(search.out.begin(), search.out.end(), '\n'), 30) << search.out;
    EXPECT_NE(search.out.find(
                  "dump.txt:2501:30: INSERT INTO t VALUES (2501, 'caf\xC3\xA9 cr\xC3\xA8me');\n"),
              std::string::npos)
        << search.out;

    const ProgramResult diff = Ferret({"-p", dir.Path("site"), "-k", "*", "-s", "plain", "-r",
                                       "th\xC3\xA9", "-e:replace", "-diff", "-", "-x"});
    ASSERT_EQ(diff.exit_code, 0) << diff.err;
    EXPECT_NE(diff.out.find("Binary files dump.txt and dump.txt differ\n"), std::string::npos)
        << diff.out;

    // What is put in its ASCII start is written in its encoding too.
    const ProgramResult replace = Ferret(
        {"-p", dir.Path("site"), "-k", "*", "-s", "plain", "-r", "th\xC3\xA9", "-e:replace", "-x"});
    ASSERT_EQ(replace.exit_code, 0) << replace.err;
    EXPECT_EQ(dir.ReadFile("site/dump.txt"), LatinDump("th\xE9"));
}

}  // namespace
}  // namespace ferret
