// The hit lines of unattended runs (-hits), against ripgrep and vim on real trees.
#include <limits.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "testsupport/ferret_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::Ferret;
using testing::FindProgram;
using testing::LinesOf;
using testing::ProgramResult;
using testing::RunProgram;
using testing::TempDir;

// A place as "PATH:LINE:COLUMN", the path resolved, so that a file reached by two names (a
// link) is one place.
using Place = std::tuple<std::string, long, long>;

Place Resolved(const std::string& path, long line, long column) {
    char real[PATH_MAX];
    return {realpath(path.c_str(), real) != nullptr ? real : path, line, column};
}

// The places of quickfix lines; each line must have the form "PATH:LINE:COLUMN:TEXT" (ferret
// puts a space before TEXT, ripgrep does not).
std::set<Place> Places(const std::string& text, std::size_t* count = nullptr) {
    static const std::regex form(R"(^(.+?):([0-9]+):([0-9]+):([\s\S]*)$)");
    std::set<Place> places;
    const std::vector<std::string> lines = LinesOf(text);
    for (const std::string& line : lines) {
        std::smatch part;
        EXPECT_TRUE(std::regex_match(line, part, form)) << line;
        if (!part.empty()) {
            places.insert(Resolved(part[1], std::stol(part[2]), std::stol(part[3])));
        }
    }
    if (count != nullptr) {
        *count = lines.size();
    }
    return places;
}

// Every line of a search of /usr/include that holds PATH_MAX, each once with its first hit's
// column, as ripgrep finds them following links (ferret follows them too); and vim reads the file.
TEST(HitLinesFile, ASearchOfUsrIncludeGivesRipgrepsPlaces) {
    const std::string rg = FindProgram("rg");
    if (rg.empty()) {
        GTEST_SKIP() << "ripgrep is not installed";
    }
    const TempDir dir;
    const std::string out = dir.Path("hits.txt");
    const ProgramResult run = Ferret({"-p", "/usr/include", "-k", "*.h", "-b", "-s", "PATH_MAX",
                                      "-e:search", "-hits", out, "-x"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const ProgramResult peer =
        RunProgram(rg, {"-L", "-n", "--column", "-F", "PATH_MAX", "--glob", "*.h", "/usr/include"});
    ASSERT_EQ(peer.exit_code, 0) << peer.err;
    std::size_t lines = 0;
    std::size_t peer_lines = 0;
    const std::set<Place> ours = Places(dir.ReadFile("hits.txt"), &lines);
    EXPECT_GT(ours.size(), 10u);
    EXPECT_EQ(ours, Places(peer.out, &peer_lines));
    // A folder reached by two names is walked once (ripgrep walks it twice).
    EXPECT_LE(lines, peer_lines);

    const std::string vim = FindProgram("vim");
    if (vim.empty()) {
        return;
    }
    const std::string listed = dir.Path("vim.txt");
    const ProgramResult read = RunProgram(
        "/usr/bin/timeout",
        {"60", vim, "-N", "-u", "NONE", "-i", "NONE", "-es", "-q", out, "-c",
         "redir! > " + listed +
             " | for e in getqflist() | silent echo bufname(e.bufnr) . ':' . e.lnum . ':' . e.col "
             ". ':' | endfor | redir END",
         "-c", "qa!"});
    ASSERT_EQ(read.exit_code, 0) << read.err;
    std::string text;
    for (const std::string& line : LinesOf(dir.ReadFile("vim.txt"))) {
        if (!line.empty()) {
            text += line + "\n";
        }
    }
    EXPECT_EQ(Places(text), ours);
}

// Lines of every kind of text, to a file or standard output; a binary file is told, not listed;
// a replace run lists its new text and says where its restore point is on standard error.
TEST(HitLinesFile, TextsOfEveryKindAndReplaceRuns) {
    const TempDir dir;
    dir.WriteFile("tree/crlf.txt", "one\r\ntwo x\r\nx three\r\n");
    dir.WriteFile("tree/cr.txt", "a\rb x");
    // "é x" in UTF-16 LE.
    dir.WriteFile("tree/wide.txt", std::string("\xFF\xFE\xE9\0 \0x\0", 8));
    dir.WriteFile("tree/data.txt", std::string("x\0x", 3));
    dir.WriteFile("tree/none.txt", "nothing");
    const std::string tree = dir.Path("tree");
    const ProgramResult run =
        Ferret({"-p", tree, "-k", "*.txt", "-s", "x", "-e:search", "-hits", "-", "-x"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    // A lone carriage return is a character (escaped in the text); columns count the bytes of
    // the UTF-8 text, also of a file decoded from UTF-16.
    EXPECT_EQ(run.out, tree + "/cr.txt:1:5: a\\rb x\n" + tree + "/crlf.txt:2:5: two x\n" + tree +
                           "/crlf.txt:3:1: x three\n" + tree + "/wide.txt:1:4: é x\n");
    EXPECT_NE(run.err.find("note: 1 binary file(s) with hits are not listed"), std::string::npos)
        << run.err;

    const ProgramResult replaced = Ferret(
        {"-p", tree, "-k", "crlf.txt", "-s", "x", "-r", "NEW", "-e:replace", "-hits", "-", "-x"});
    ASSERT_EQ(replaced.exit_code, 0) << replaced.err;
    EXPECT_EQ(replaced.out,
              tree + "/crlf.txt:2:5: two NEW\n" + tree + "/crlf.txt:3:1: NEW three\n");
    EXPECT_NE(replaced.err.find("Restore point: "), std::string::npos) << replaced.err;
    EXPECT_EQ(dir.ReadFile("tree/crlf.txt"), "one\r\ntwo NEW\r\nNEW three\r\n");

    // A file: written whole, an empty one when nothing is found; a place it cannot go is told.
    const ProgramResult empty = Ferret({"-p", tree, "-k", "*.txt", "-s", "absent", "-e:search",
                                        "-hits", dir.Path("none.qf"), "-x"});
    ASSERT_EQ(empty.exit_code, 0) << empty.err;
    EXPECT_EQ(dir.ReadFile("none.qf"), "");
    const ProgramResult refused = Ferret({"-p", tree, "-k", "*.txt", "-s", "x", "-e:search",
                                          "-hits", dir.Path("none.txt/out.qf"), "-x"});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_NE(refused.err.find("cannot write the hit lines"), std::string::npos) << refused.err;
}

// "-w": a hit starts and ends at a word's bounds, for a text and a pattern; a saved search
// keeps it.
TEST(HitLinesFile, WholeWordsOnly) {
    const TempDir dir;
    dir.WriteFile("tree/w.txt", "concat cats\ncat here\n(cat) cats_\nc.t a.cat.b\n");
    const std::string tree = dir.Path("tree");
    const std::string expected = tree + "/w.txt:2:1: cat here\n" + tree +
                                 "/w.txt:3:2: (cat) cats_\n" + tree + "/w.txt:4:7: c.t a.cat.b\n";
    const ProgramResult plain =
        Ferret({"-p", tree, "-k", "*.txt", "-s", "cat", "-w", "-e:search", "-hits", "-", "-x"});
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    EXPECT_EQ(plain.out, expected);
    const ProgramResult pattern = Ferret(
        {"-p", tree, "-k", "*.txt", "-s", "c.t", "-rx", "-w", "-e:search", "-hits", "-", "-x"});
    ASSERT_EQ(pattern.exit_code, 0) << pattern.err;
    EXPECT_EQ(pattern.out, tree + "/w.txt:2:1: cat here\n" + tree + "/w.txt:3:2: (cat) cats_\n" +
                               tree + "/w.txt:4:1: c.t a.cat.b\n");
    // Without it, "cat" inside words counts too.
    const ProgramResult inside =
        Ferret({"-p", tree, "-k", "*.txt", "-s", "cat", "-e:search", "-hits", "-", "-x"});
    EXPECT_EQ(LinesOf(inside.out).size(), 4u) << inside.out;
    dir.WriteFile("w.frs", "[Search Criteria]\r\nSearch=cat\r\nPath=" + tree +
                               "\r\nFileMask=*.txt\r\n[Options]\r\nWholeWord=1\r\n");
    const ProgramResult saved =
        Ferret({"-config", dir.Path("w.frs"), "-e:search", "-hits", "-", "-x"});
    ASSERT_EQ(saved.exit_code, 0) << saved.err;
    EXPECT_EQ(saved.out, expected);
}

// Lines and columns as the editors that read them count: lines end at LF (a lone CR is a
// character), columns are bytes. ripgrep gives the same places, and vim's cursor lands on each
// hit, after non-ASCII text too.
TEST(HitLinesFile, LinesAndColumnsAreTheEditorsOwn) {
    const std::string rg = FindProgram("rg");
    const std::string vim = FindProgram("vim");
    if (rg.empty() || vim.empty()) {
        GTEST_SKIP() << "ripgrep or vim is not installed";
    }
    const TempDir dir;
    dir.WriteFile("tree/umlaut.txt", "Grüße x\nÄÖÜ\tx x\n日本語 x\n");
    dir.WriteFile("tree/cr.txt", "a\rb x\rc x\nx\r\nlast x");
    const std::string tree = dir.Path("tree");
    const std::string out = dir.Path("hits.txt");
    const ProgramResult run =
        Ferret({"-p", tree, "-k", "*.txt", "-s", "x", "-e:search", "-hits", out, "-x"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const ProgramResult peer = RunProgram(rg, {"-n", "--column", "-F", "x", tree});
    ASSERT_EQ(peer.exit_code, 0) << peer.err;
    const std::set<Place> ours = Places(dir.ReadFile("hits.txt"));
    EXPECT_EQ(ours.size(), 6u);
    EXPECT_EQ(ours, Places(peer.out));

    // vim goes to each place and tells the byte under its cursor.
    const std::string told = dir.Path("vim.txt");
    const ProgramResult read = RunProgram(
        "/usr/bin/timeout",
        {"60", vim, "-N", "-u", "NONE", "-i", "NONE", "-es", "-q", out, "-c",
         "redir! > " + told +
             " | for i in range(1, len(getqflist())) | silent exe 'cc ' . i | echo 'at ' . "
             "expand('%:t') . ':' . line('.') . ':' . col('.') . ':' . getline('.')[col('.') - 1] "
             "| endfor | redir END",
         "-c", "qa!"});
    ASSERT_EQ(read.exit_code, 0) << read.err;
    std::size_t landed = 0;
    for (std::string line : LinesOf(dir.ReadFile("vim.txt"))) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("at ", 0) == 0) {
            EXPECT_EQ(line.substr(line.size() - 2), ":x") << line;
            ++landed;
        }
    }
    EXPECT_EQ(landed, ours.size());
}

// -json writes each hit as a JSON object (a name that is not UTF-8 as base64), then each file
// with hits and a summary: parsed by Python's json, its places are the -hits places, its
// counts add up, and a binary file's hits are counted though not listed.
TEST(HitLinesFile, JsonLinesHoldEveryHit) {
    const std::string python = FindProgram("python3");
    if (python.empty()) {
        GTEST_SKIP() << "python3 is not installed";
    }
    const TempDir dir;
    dir.WriteFile("tree/plain.txt", "one x\nno\r\nx and x\n");
    dir.WriteFile("tree/odd\xff.txt", "Gr\xc3\xbc\xc3\x9f x \"quoted\" \\ x\n");
    dir.WriteFile("tree/data.bin.txt", std::string("x\0x", 3));
    const std::string tree = dir.Path("tree");
    const ProgramResult json = Ferret({"-p", tree, "-k", "*.txt", "-s", "x", "-e:search", "-json",
                                       dir.Path("hits.json"), "-hits", dir.Path("hits.txt"), "-x"});
    ASSERT_EQ(json.exit_code, 0) << json.err;
    dir.WriteFile("read.py", R"(import base64, json, sys
hits, files, firsts = 0, 0, {}
summary = None
for text in open(sys.argv[1], encoding="utf-8"):
    item = json.loads(text)
    if item["type"] != "summary":
        path = item.get("path") or base64.b64decode(item["path_bytes"]).decode("latin-1")
    if item["type"] == "hit":
        hits += 1
        assert item["end"] - item["start"] == 1, item
        key = (path, item["line"])
        firsts[key] = min(firsts.get(key, 10**9), item["column"])
    elif item["type"] == "file":
        files += item["hits"]
    else:
        summary = item
for (path, line), column in sorted(firsts.items()):
    print("%s:%d:%d:" % (path, line, column))
print("hits %d files %d summary %d %d" % (hits, files, summary["hits"], summary["files_with_hits"]))
)");
    const ProgramResult read = RunProgram(python, {dir.Path("read.py"), dir.Path("hits.json")});
    ASSERT_EQ(read.exit_code, 0) << read.err;
    // The binary file's two hits are in its file object and the summary, not listed as hits.
    EXPECT_NE(read.out.find("hits 5 files 7 summary 7 3"), std::string::npos) << read.out;
    std::string places;
    for (const std::string& line : LinesOf(read.out)) {
        if (line.rfind("hits ", 0) != 0) {
            places += line + "\n";
        }
    }
    // The odd name as Latin-1 in Python; as its bytes in -hits, quoted there.
    const std::set<Place> from_json = Places(places);
    std::set<Place> from_hits;
    for (const Place& place : Places(dir.ReadFile("hits.txt"))) {
        std::string path = std::get<0>(place);
        if (path.find("odd") != std::string::npos) {
            path = dir.Path("tree/odd\xc3\xbf.txt");
        }
        from_hits.insert({path, std::get<1>(place), std::get<2>(place)});
    }
    EXPECT_EQ(from_json.size(), 3u);
    EXPECT_EQ(from_json, from_hits);
}

}  // namespace
}  // namespace ferret
