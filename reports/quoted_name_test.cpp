#include "reports/quoted_name.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ferret {
namespace {

// Ordinary names, blanks and UTF-8 included, stay byte for byte what they are.
TEST(QuotedName, OrdinaryNamesStayAsTheyAre) {
    for (const char* name :
         {"", "/tmp/a.txt", "/home/x/my notes.txt", "caf\xC3\xA9/\xE2\x82\xAC.txt", "quote\"in.txt",
          "back\\slash.txt", "colon:name", "\xFF\xFE stray bytes"}) {
        EXPECT_EQ(QuotedName(name), name);
    }
}

// A control character, or a double quote in front, puts the name in C quotes, in which
// backslashes and double quotes are escaped too, so each quoted name reads back as one name.
TEST(QuotedName, ControlCharactersAreEscapedInQuotes) {
    EXPECT_EQ(QuotedName("/t/a\nb.txt"), "\"/t/a\\nb.txt\"");
    EXPECT_EQ(QuotedName("\a\b\t\n\v\f\r"), "\"\\a\\b\\t\\n\\v\\f\\r\"");
    EXPECT_EQ(QuotedName("esc\x1B[2J\x7F"), "\"esc\\033[2J\\177\"");
    EXPECT_EQ(QuotedName(std::string("nul\0x", 5)), "\"nul\\000x\"");
    // C1 controls in UTF-8; other UTF-8 stays.
    EXPECT_EQ(QuotedName("c1\xC2\x9B\xC2\xA0\xC3\xA9"), "\"c1\\302\\233\xC2\xA0\xC3\xA9\"");
    EXPECT_EQ(QuotedName("a\"b\\c\n"), "\"a\\\"b\\\\c\\n\"");
    EXPECT_EQ(QuotedName("\"start"), "\"\\\"start\"");
    // A lone 0xC2 at the end is no control.
    EXPECT_EQ(QuotedName("end\xC2"), "end\xC2");
}

TEST(QuotedName, PatchNamesAreQuotedAsGitQuotesThem) {
    EXPECT_EQ(PatchName("sub/a.txt"), "sub/a.txt");
    EXPECT_EQ(PatchName("two words.txt"), "two words.txt");
    EXPECT_EQ(PatchName("caf\xC3\xA9.txt"), "caf\xC3\xA9.txt");
    EXPECT_EQ(PatchName("quote\"in"), "\"quote\\\"in\"");
    EXPECT_EQ(PatchName("back\\slash"), "\"back\\\\slash\"");
    EXPECT_EQ(PatchName(" lead"), "\" lead\"");
    EXPECT_EQ(PatchName("tab\there"), "\"tab\\there\"");
    EXPECT_EQ(PatchNameEnd("two words.txt"), "\t");
    EXPECT_EQ(PatchNameEnd("a\tb"), "");
    EXPECT_EQ(PatchNameEnd("a.txt"), "");
}

// A text keeps its TABs, backslashes and quotes; other control characters are escaped, line
// feeds too unless asked to keep them.
TEST(QuotedName, TextsKeepTabsAndEscapeOtherControls) {
    EXPECT_EQ(EscapedText("printf(\"%d\\n\",\tx);"), "printf(\"%d\\n\",\tx);");
    EXPECT_EQ(EscapedText("\x1B[31mred\x1B[0m\r"), "\\033[31mred\\033[0m\\r");
    EXPECT_EQ(EscapedText("one\ntwo"), "one\\ntwo");
    EXPECT_EQ(EscapedText("one\ntwo\x1B", true), "one\ntwo\\033");
    EXPECT_EQ(EscapedText("\xC2\x85next line"), "\\302\\205next line");
}

// Long texts are looked at sixteen bytes at a time: a control is found wherever it stands, and
// the bytes around it are kept.
TEST(QuotedName, AControlIsFoundAtAnyPlaceOfALongText) {
    const std::string plain = "0123456789abcdefghijklmnopqrstuvwxyz\xC3\xA9\xC2\xA0-_";
    const std::vector<std::pair<std::string, std::string>> controls = {
        {"\x01", "\\001"},          {"\x1F", "\\037"}, {"\x7F", "\\177"},
        {"\xC2\x9F", "\\302\\237"}, {"\t", "\t"},      {"\xC2\x80", "\\302\\200"}};
    for (std::size_t at = 0; at <= plain.size(); ++at) {
        for (const auto& [control, escaped] : controls) {
            const std::string text = plain.substr(0, at) + control + plain.substr(at);
            EXPECT_EQ(EscapedText(text), plain.substr(0, at) + escaped + plain.substr(at))
                << at << " " << escaped;
            EXPECT_NE(QuotedName(text), text) << at;  // a name is quoted for any control
        }
    }
    EXPECT_EQ(EscapedText(plain), plain);
    EXPECT_EQ(QuotedName(plain), plain);
}

}  // namespace
}  // namespace ferret
