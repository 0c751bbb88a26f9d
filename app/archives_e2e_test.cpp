// Searches inside archives, compressed files and PDFs (-z), run with the real program on trees the
// tests make: each entry counts and lists its hit lines as the same file on disk does, named
// ARCHIVE//PATH; a PDF's hits carry their page, counted as pdftotext gives each page's text.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "testsupport/ferret_program.h"
#include "testsupport/made_pdf.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::Ferret;
using testing::FerretWithin;
using testing::FindProgram;
using testing::LinesOf;
using testing::ProgramResult;
using testing::RunProgram;
using testing::TempDir;

void Make(const std::vector<std::string>& command) {
    const ProgramResult made =
        RunProgram(FindProgram(command.front()), {command.begin() + 1, command.end()});
    ASSERT_EQ(made.exit_code, 0) << command.front() << ": " << made.err;
}

// The hit lines of a search of `folder`, each with `prefix` taken off its path.
std::vector<std::string> HitLines(const std::string& folder, const std::string& text,
                                  const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"-p", folder, "-k",        "*.txt", "-b",
                                          "-s", text,   "-e:search", "-hits", "-"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back("-x");
    const ProgramResult run = Ferret(arguments);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return LinesOf(run.out);
}

// Every kind of archive holds the same files: each entry's hit lines are those of the file on
// disk, under the archive's name; files the mask leaves out are not searched inside either.
TEST(ArchivesEndToEnd, EntriesHitAsTheirFilesDo) {
    TempDir dir;
    // Real texts: the copyright files of a few packages, and a file the mask leaves out.
    const std::vector<std::string> packages = {"bash", "coreutils", "dpkg", "apt", "grep"};
    dir.MakeDir("files");
    for (const std::string& package : packages) {
        const std::string copyright = "/usr/share/doc/" + package + "/copyright";
        Make({"cp", copyright, dir.Path("files/" + package + ".txt")});
    }
    dir.WriteFile("files/sub/deep.txt", "GNU deep\n");
    dir.WriteFile("files/skip.md", "GNU but not a .txt\n");
    const std::string files = dir.Path("files");
    dir.MakeDir("archives");
    Make({"bsdtar", "--format", "zip", "-cf", dir.Path("archives/a.zip"), "-C", files, "."});
    Make({"bsdtar", "-czf", dir.Path("archives/a.tar.gz"), "-C", files, "."});
    Make({"bsdtar", "-cJf", dir.Path("archives/a.tar.xz"), "-C", files, "."});
    Make({"bsdtar", "--format", "7zip", "-cf", dir.Path("archives/a.7z"), "-C", files, "."});
    Make({"bsdtar", "--zstd", "-cf", dir.Path("archives/a.tar.zst"), "-C", files, "."});

    const std::vector<std::string> plain = HitLines(files, "GNU", {});
    ASSERT_GT(plain.size(), 10u);
    std::vector<std::string> expected;
    for (const char* archive : {"a.7z", "a.tar.gz", "a.tar.xz", "a.tar.zst", "a.zip"}) {
        SCOPED_TRACE(archive);
        std::vector<std::string> found;
        for (const std::string& line : HitLines(dir.Path("archives"), "GNU", {"-z"})) {
            const std::string prefix = dir.Path("archives/") + archive + "//./";
            if (line.rfind(prefix, 0) == 0) {
                found.push_back(files + "/" + line.substr(prefix.size()));
            }
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> sorted = plain;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(found, sorted);
    }
    // Without -z, no archive is looked into.
    EXPECT_TRUE(HitLines(dir.Path("archives"), "GNU", {}).empty());
}

// A compressed file is searched as its data, named as it is; a PDF's hit lines carry their page,
// and each page counts what pdftotext gives of it.
TEST(ArchivesEndToEnd, CompressedFilesAndPdfPages) {
    TempDir dir;
    dir.WriteFile("log/app.log", "start\nerror one\nok\nerror two\n");
    Make({"gzip", "-k", dir.Path("log/app.log")});
    dir.MakeDir("doc");
    std::string error;
    ASSERT_TRUE(testing::WritePdf(
        dir.Path("doc/manual.pdf"),
        {{"alpha error"}, {"nothing here"}, {"error and error", "last error"}}, &error))
        << error;
    const ProgramResult run = Ferret({"-p", dir.path(), "-k", "*.log;*.pdf", "-b", "-s", "error",
                                      "-z", "-e:search", "-hits", "-", "-x"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::vector<std::string> lines = LinesOf(run.out);
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected = {
        dir.Path("doc/manual.pdf") + "#page=1:1:7: alpha error",
        dir.Path("doc/manual.pdf") + "#page=3:1:1: error and error",
        dir.Path("doc/manual.pdf") + "#page=3:2:6: last error",
        dir.Path("log/app.log") + ":2:1: error one",
        dir.Path("log/app.log") + ":4:1: error two",
        dir.Path("log/app.log.gz") + ":2:1: error one",
        dir.Path("log/app.log.gz") + ":4:1: error two"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    for (int page = 1; page <= 3; ++page) {
        const ProgramResult text = RunProgram(
            FindProgram("pdftotext"), {"-f", std::to_string(page), "-l", std::to_string(page),
                                       dir.Path("doc/manual.pdf"), "-"});
        std::size_t count = 0;
        for (std::size_t at = text.out.find("error"); at != std::string::npos;
             at = text.out.find("error", at + 1)) {
            ++count;
        }
        std::size_t ours = 0;
        for (const std::string& line : LinesOf(run.out)) {
            if (line.find("#page=" + std::to_string(page) + ":") != std::string::npos) {
                ours += line.find("error and error") != std::string::npos ? 2 : 1;
            }
        }
        EXPECT_EQ(ours, count) << "page " << page;
    }
}

// Archives and PDFs with more hit lines than are held in memory: the lines set aside come back in
// order, each under its own entry and page, as the same files on disk give them.
TEST(ArchivesEndToEnd, ManyHitLinesComeBackUnderTheirEntriesAndPages) {
    TempDir dir;
    const auto numbered = [](const std::string& name, int count) {
        std::string text;
        for (int i = 1; i <= count; ++i) {
            text += name + " hit " + std::to_string(i) + (i % 3 == 0 ? " hit\n" : "\n");
        }
        return text;
    };
    dir.WriteFile("files/many.txt", numbered("many", 9000));
    dir.WriteFile("files/few.txt", numbered("few", 3));
    dir.WriteFile("files/more.txt", numbered("more", 5000));
    dir.WriteFile("files/none.txt", "nothing\n");
    dir.MakeDir("archives");
    Make({"bsdtar", "--format", "zip", "-cf", dir.Path("archives/a.zip"), "-C", dir.Path("files"),
          "many.txt", "few.txt", "none.txt", "more.txt"});
    std::vector<std::vector<std::string>> pages(100);
    for (std::size_t page = 0; page < pages.size(); ++page) {
        for (int line = 1; line <= 50; ++line) {
            pages[page].push_back("p" + std::to_string(page + 1) + " hit " + std::to_string(line));
        }
    }
    std::string error;
    ASSERT_TRUE(testing::WritePdf(dir.Path("archives/manual.pdf"), pages, &error)) << error;

    // Each file's lines, in the order they come, and the files in the order they first come.
    const auto by_file = [](const std::vector<std::string>& lines, const std::string& prefix,
                            std::vector<std::string>& order) {
        std::map<std::string, std::vector<std::string>> files;
        for (const std::string& line : lines) {
            if (line.rfind(prefix, 0) != 0) {
                continue;
            }
            const std::string rest = line.substr(prefix.size());
            const std::string name = rest.substr(0, rest.find(':'));
            if (files.count(name) == 0) {
                order.push_back(name);
            }
            files[name].push_back(rest.substr(name.size()));
        }
        return files;
    };
    std::vector<std::string> plain_order;
    const auto plain =
        by_file(HitLines(dir.Path("files"), "hit", {}), dir.Path("files") + "/", plain_order);
    ASSERT_EQ(plain.size(), 3u);
    const ProgramResult run = Ferret({"-p", dir.Path("archives"), "-k", "*.txt;*.pdf", "-b", "-s",
                                      "hit", "-z", "-e:search", "-hits", "-", "-x"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<std::string> lines = LinesOf(run.out);
    std::vector<std::string> order;
    const auto inside = by_file(lines, dir.Path("archives/a.zip") + "//", order);
    EXPECT_EQ(order, (std::vector<std::string>{"many.txt", "few.txt", "more.txt"}));
    EXPECT_EQ(inside, plain);
    // Entries come one after the other, never mixed.
    std::vector<std::string> runs;
    for (const std::string& line : lines) {
        const std::string name = line.substr(0, line.find_first_of(":#"));
        if (runs.empty() || runs.back() != name) {
            runs.push_back(name);
        }
    }
    EXPECT_EQ(runs.size(), 4u) << ::testing::PrintToString(runs);
    std::vector<std::string> pdf_lines;
    for (const std::string& line : lines) {
        if (line.rfind(dir.Path("archives/manual.pdf") + "#", 0) == 0) {
            pdf_lines.push_back(line.substr(dir.Path("archives/manual.pdf").size()));
        }
    }
    ASSERT_EQ(pdf_lines.size(), 5000u);
    for (std::size_t i = 0; i < pdf_lines.size(); i += 997) {
        const std::string page = std::to_string(i / 50 + 1);
        const std::string line = std::to_string(i % 50 + 1);
        EXPECT_EQ(pdf_lines[i], "#page=" + page + ":" + line + ":" +
                                    std::to_string(page.size() + 3) + ": p" + page + " hit " +
                                    line);
    }
}

// With binary files left out, a compressed file or an entry whose data is binary is left out
// and counted as such, as the same file on disk is.
TEST(ArchivesEndToEnd, BinaryDataInsideIsLeftOutAsBinary) {
    TempDir dir;
    dir.WriteFile("tree/data.bin", std::string("needle\0\x01\x02", 9));
    dir.WriteFile("tree/text.txt", "needle\n");
    Make({"gzip", "-k", dir.Path("tree/data.bin")});
    Make({"bsdtar", "--format", "zip", "-cf", dir.Path("tree/both.zip"), "-C", dir.Path("tree"),
          "data.bin", "text.txt"});
    Make({"rm", dir.Path("tree/data.bin")});
    const ProgramResult run =
        Ferret({"-p", dir.Path("tree"), "-k", "*", "-b", "-s", "needle", "-z", "-nobinary",
                "-e:search", "-l", dir.Path("r.log"), "-hits", "-", "-x"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::vector<std::string> lines = LinesOf(run.out);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{dir.Path("tree/both.zip") + "//text.txt:1:1: needle",
                                               dir.Path("tree/text.txt") + ":1:1: needle"}));
    EXPECT_NE(dir.ReadFile("r.log").find("2 binary files were left out."), std::string::npos)
        << dir.ReadFile("r.log");
}

// Damaged archives and bombs are told, within bounded time and memory, and the run goes on.
TEST(ArchivesEndToEnd, DamagedArchivesAndBombsAreTold) {
    TempDir dir;
    dir.WriteFile("tree/plain.txt", "needle\n");
    Make({"python3", "-c", R"(
import sys, zipfile
d = sys.argv[1]
with zipfile.ZipFile(d + "/bomb.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("zeros.txt", b"\0" * (300 << 20))
with zipfile.ZipFile(d + "/good.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(20):
        z.writestr("f%d.txt" % i, "needle %d\n" % i * 2000)
data = open(d + "/good.zip", "rb").read()
open(d + "/cut.zip", "wb").write(data[:len(data) // 2])
open(d + "/broken.pdf", "wb").write(b"%PDF-1.4\nnothing else")
)",
          dir.Path("tree")});
    // A sanitizer build reserves terabytes of address space for its own bookkeeping: there only
    // the time bounds it.
#if defined(__SANITIZE_ADDRESS__)
    const std::vector<std::string> limit;
#else
    const std::vector<std::string> limit = {"--as=" + std::to_string(2048LL << 20)};
#endif
    const ProgramResult run =
        FerretWithin(60,
                     {"-p", dir.Path("tree"), "-k", "*.txt;*.pdf", "-b", "-s", "needle", "-z",
                      "-e:search", "-l", dir.Path("report.txt"), "-x"},
                     false, limit);
    EXPECT_NE(run.exit_code, 124);
    EXPECT_NE(run.exit_code, 137);
    for (const char* name : {"bomb.zip", "cut.zip", "broken.pdf"}) {
        EXPECT_NE(run.err.find(dir.Path("tree/") + name), std::string::npos) << name << run.err;
    }
    EXPECT_NE(run.err.find("archive bomb"), std::string::npos) << run.err;
    const std::string report = dir.ReadFile("report.txt");
    EXPECT_NE(report.find(".../plain.txt"), std::string::npos) << report;
    EXPECT_NE(report.find(".../good.zip//f0.txt"), std::string::npos) << report;
}

// A replace run rewrites the plain files and never an archive or a PDF: each entry, compressed
// file and PDF with hits is told once, by its name, as left as it is.
TEST(ArchivesEndToEnd, AReplaceRunLeavesArchivesAndPdfsAsTheyAre) {
    TempDir dir;
    dir.WriteFile("tree/plain.txt", "old\n");
    dir.WriteFile("files/a.txt", "old and old\n");
    dir.WriteFile("files/none.txt", "nothing\n");
    dir.WriteFile("tree/log.txt", "old log\n");
    Make({"gzip", dir.Path("tree/log.txt")});
    Make({"bsdtar", "--format", "zip", "-cf", dir.Path("tree/site.zip"), "-C", dir.Path("files"),
          "."});
    Make({"bsdtar", "-czf", dir.Path("tree/site.tar.gz"), "-C", dir.Path("files"), "."});
    std::string error;
    ASSERT_TRUE(testing::WritePdf(dir.Path("tree/manual.pdf"), {{"old text"}}, &error)) << error;
    const std::vector<std::string> kept = {"site.zip", "site.tar.gz", "log.txt.gz", "manual.pdf"};
    std::vector<std::string> before;
    for (const std::string& name : kept) {
        before.push_back(dir.ReadFile("tree/" + name));
    }
    const ProgramResult run =
        Ferret({"-p", dir.Path("tree"), "-k", "*.txt;*.pdf", "-b", "-s", "old", "-r", "new", "-z",
                "-e:replace", "-l", dir.Path("report.txt"), "-x"});
    EXPECT_EQ(dir.ReadFile("tree/plain.txt"), "new\n");
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(dir.ReadFile("tree/" + kept[i]), before[i]) << kept[i];
    }
    const std::vector<std::string> told = {
        dir.Path("tree/site.zip") + "//./a.txt: inside an archive; it was not rewritten",
        dir.Path("tree/site.tar.gz") + "//./a.txt: inside an archive; it was not rewritten",
        dir.Path("tree/log.txt.gz") + ": inside a compressed file; it was not rewritten",
        dir.Path("tree/manual.pdf") + ": the text of a PDF; it was not rewritten"};
    for (const std::string& line : told) {
        const std::size_t at = run.err.find(line);
        EXPECT_NE(at, std::string::npos) << line << "\n" << run.err;
        EXPECT_EQ(run.err.find(line, at + 1), std::string::npos) << "told twice: " << line;
    }
    EXPECT_EQ(run.err.find("none.txt"), std::string::npos) << run.err;
    EXPECT_NE(run.exit_code, 0) << "files with hits were left as they are";
}

}  // namespace
}  // namespace ferret
