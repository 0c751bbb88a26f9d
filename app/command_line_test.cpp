#include "app/command_line.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

CommandLine FromArgs(const std::vector<std::string>& args) {
    return CommandLine(CommandLine::RebuildCommandLine(args));
}

TEST(CommandLine, NoTextMeansInteractiveButBlanksAreArguments) {
    EXPECT_FALSE(CommandLine("").HasArguments());
    const CommandLine line("   ");
    EXPECT_TRUE(line.HasArguments());
    EXPECT_TRUE(line.ProcessType().empty());
    EXPECT_FALSE(line.RunMinimized() || line.UseRegEx() || line.SearchSubFolders() ||
                 line.ExitOnComplete() || line.IgnoreCase());
}

TEST(CommandLine, EveryValueSwitchAndFlag) {
    const CommandLine line(
        "-p /srv/www -k *.htm;*.html -l /tmp/report.txt -s old -r new -e:replace "
        "-config /tmp/x.frs -m -rx -b -x -i");
    EXPECT_EQ(line.StartPath(), "/srv/www");
    EXPECT_EQ(line.FileMask(), "*.htm;*.html");
    EXPECT_EQ(line.LogPath(), "/tmp/report.txt");
    EXPECT_EQ(line.SearchString(), "old");
    EXPECT_EQ(line.ReplaceString(), "new");
    EXPECT_EQ(line.ProcessType(), "replace");
    EXPECT_EQ(line.ConfigFile(), "/tmp/x.frs");
    EXPECT_TRUE(line.RunMinimized());
    EXPECT_TRUE(line.UseRegEx());
    EXPECT_TRUE(line.SearchSubFolders());
    EXPECT_TRUE(line.ExitOnComplete());
    EXPECT_TRUE(line.IgnoreCase());
}

TEST(CommandLine, FlagsCountOnlyExactlyAsWritten) {
    EXPECT_FALSE(CommandLine("-M").RunMinimized());
    EXPECT_FALSE(CommandLine("-X").ExitOnComplete());
    EXPECT_FALSE(CommandLine("-xm").ExitOnComplete());
    EXPECT_FALSE(CommandLine("-xm").RunMinimized());
    EXPECT_TRUE(CommandLine("-  x  ").ExitOnComplete());
    EXPECT_TRUE(CommandLine("-s a -x").ExitOnComplete());  // last, unquoted
    // A flag inside a quoted value is part of the value.
    const CommandLine quoted(R"(-s "a -x b")");
    EXPECT_FALSE(quoted.ExitOnComplete());
    EXPECT_EQ(quoted.SearchString(), "a -x b");
}

TEST(CommandLine, DoubledQuotesInsideQuotes) {
    const CommandLine line(R"(-s "say ""hi""" -x)");
    EXPECT_EQ(line.SearchString(), R"(say "hi")");
    EXPECT_TRUE(line.ExitOnComplete());
    EXPECT_EQ(FromArgs({"-s", R"(a"b)"}).SearchString(), R"(a"b)");
    // Quotes the user meant stay, also at the ends of the value (searching for "index.html").
    EXPECT_EQ(FromArgs({"-s", R"("index.html")"}).SearchString(), R"("index.html")");
    EXPECT_EQ(CommandLine(R"(-s """x""")").SearchString(), R"("x")");
}

TEST(CommandLine, RegexFlagIsNotTheReplaceValue) {
    const CommandLine line("-rx -r new -s old");
    EXPECT_TRUE(line.UseRegEx());
    EXPECT_EQ(line.ReplaceString(), "new");
    const CommandLine regex_only("-rx -s old");
    EXPECT_TRUE(regex_only.ReplaceString().empty());
}

TEST(CommandLine, ProcessTypeNeedsItsColon) {
    EXPECT_EQ(CommandLine("-e:search").ProcessType(), "search");
    EXPECT_EQ(CommandLine("-e:Search").ProcessType(), "Search");  // the run decides
    EXPECT_EQ(CommandLine("-e search").ProcessType(), "");
    EXPECT_EQ(CommandLine("-p").StartPath(), "");
}

TEST(CommandLine, FirstMatchingValueWinsAndUnknownSwitchesAreIgnored) {
    const CommandLine line("-s first -q what -s second -zz");
    EXPECT_EQ(line.SearchString(), "first");
    EXPECT_TRUE(line.HasArguments());
}

TEST(CommandLine, RebuiltArgumentsArriveWhole) {
    const CommandLine line =
        FromArgs({"-s", "-leading dash", "-r", "", "-k", "*.c;*.h", "-p", "/x/y-z", "-b"});
    EXPECT_EQ(line.SearchString(), "-leading dash");
    EXPECT_EQ(line.ReplaceString(), "");
    EXPECT_EQ(line.FileMask(), "*.c;*.h");
    EXPECT_EQ(line.StartPath(), "/x/y-z");
    EXPECT_TRUE(line.SearchSubFolders());
    // A switch and its value in one argument, as some launchers pass them.
    EXPECT_EQ(FromArgs({"-s a-b", "-x"}).SearchString(), "a-b");
    // "-" alone is a value: standard output for the hit lines.
    EXPECT_EQ(FromArgs({"-hits", "-", "-x"}).HitsPath(), "-");
    EXPECT_EQ(FromArgs({"-hits", "/tmp/a-b.txt", "-h"}).HitsPath(), "/tmp/a-b.txt");
    EXPECT_TRUE(FromArgs({"-hits", "-", "-x"}).ExitOnComplete());
    EXPECT_EQ(FromArgs({"-diff", "-", "-hits", "h-1.txt"}).DiffPath(), "-");
    EXPECT_EQ(FromArgs({"-diff", "-", "-hits", "h-1.txt"}).HitsPath(), "h-1.txt");
    // What a walk leaves out: a list of folder names with dashes, and two flags.
    const CommandLine skipping =
        FromArgs({"-skip", "node_modules;build-out", "-gitignore", "-nobinary", "-s", "x"});
    EXPECT_EQ(skipping.SkipFolders(), "node_modules;build-out");
    EXPECT_TRUE(skipping.GitIgnore() && skipping.NoBinary());
    EXPECT_EQ(skipping.SearchString(), "x");
    const CommandLine plain = FromArgs({"-s", "skip", "-k", "*.nobinary"});
    EXPECT_FALSE(plain.GitIgnore() || plain.NoBinary() || !plain.SkipFolders().empty());
    // Inside archives: a flag of its own, not a value's text.
    EXPECT_TRUE(FromArgs({"-z", "-s", "x"}).Inside());
    EXPECT_FALSE(FromArgs({"-s", "-z"}).Inside());
    EXPECT_FALSE(plain.Inside());
    // A lone space argument still counts as command-line text.
    EXPECT_TRUE(FromArgs({" "}).HasArguments());
    EXPECT_FALSE(FromArgs({}).HasArguments());
}

// The shell has split the line already, so a blank at the end of a value was quoted on purpose:
// it arrives, and a search for "foo " does not find the "foo" of "foobar".
TEST(CommandLine, QuotedBlanksAtAValuesEndArrive) {
    EXPECT_EQ(FromArgs({"-s", "foo ", "-r", "bar ", "-x"}).SearchString(), "foo ");
    EXPECT_EQ(FromArgs({"-s", "foo ", "-r", "bar ", "-x"}).ReplaceString(), "bar ");
    EXPECT_TRUE(FromArgs({"-s", "foo ", "-x"}).ExitOnComplete());
    EXPECT_EQ(FromArgs({"-s foo  "}).SearchString(), "foo  ");  // switch and value in one
    EXPECT_EQ(FromArgs({"-s", "  "}).SearchString(), "  ");
    EXPECT_EQ(FromArgs({"-s", " a "}).SearchString(), " a ");
    EXPECT_EQ(FromArgs({"-p", "/tmp/folder ", "-k", "*.txt "}).StartPath(), "/tmp/folder ");
    EXPECT_EQ(FromArgs({"-p", "/tmp/folder ", "-k", "*.txt "}).FileMask(), "*.txt ");
    // Typed as one text, the same: quoted blanks stay, the blanks between switches go.
    const CommandLine typed(R"(-s "foo " -r bar   -x  )");
    EXPECT_EQ(typed.SearchString(), "foo ");
    EXPECT_EQ(typed.ReplaceString(), "bar");
    EXPECT_TRUE(typed.ExitOnComplete());
    EXPECT_EQ(CommandLine(R"(  -s "a -x "  -i)").SearchString(), "a -x ");
    EXPECT_EQ(CommandLine(R"(-s ""  -x)").SearchString(), "");
    EXPECT_TRUE(CommandLine(R"(-s ""  -x)").ExitOnComplete());
    EXPECT_EQ(CommandLine(R"(-s "unended )").SearchString(), "unended ");
}

TEST(CommandLine, SplitKeepsTextBeforeAQuoteInTheElement) {
    EXPECT_EQ(CommandLine::SplitArguments(R"(-s "two words"-x)", '-'),
              (std::vector<std::string>{"s two words", "x"}));
    // The character after a closing quote is dropped, whatever it is.
    EXPECT_EQ(CommandLine::SplitArguments(R"(-s "a"bc)", '-'),
              (std::vector<std::string>{"s a", "c"}));
    // An unterminated quote runs to the end of the text.
    EXPECT_EQ(CommandLine::SplitArguments(R"(-s "a-b)", '-'), (std::vector<std::string>{"s a-b"}));
}

}  // namespace
}  // namespace ferret
