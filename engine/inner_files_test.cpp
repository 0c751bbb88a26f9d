#include "engine/inner_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/content_search.h"
#include "engine/plain_matcher.h"
#include "testsupport/limited.h"
#include "testsupport/made_pdf.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::TempDir;

void Python(const TempDir& dir, const std::string& script) {
    const testing::ProgramResult made =
        testing::RunProgram(testing::FindProgram("python3"), {"-c", script, dir.path()});
    ASSERT_EQ(made.exit_code, 0) << made.err;
}

std::string NameOf(const InnerFile& file) {
    std::string name;
    for (const std::string& part : file.names) {
        name += (name.empty() ? "" : "//") + part;
    }
    return file.page > 0 ? name + "#" + std::to_string(file.page) : name;
}

// Each inner file's hits of `text`, searched through its descriptor as a file is.
struct Counted {
    InnerRead read;
    std::vector<std::pair<std::string, std::int64_t>> counts;
};

Counted CountIn(const std::string& path, const std::string& text,
                const std::function<bool(const InnerFile&)>& wanted = {},
                std::size_t most_files = 1000) {
    Counted counted;
    const PlainMatcher matcher(text, false);
    const std::atomic<bool> stop{false};
    const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    counted.read = ReadInnerFiles(
        fd.get(), ContainerOf(path), {}, &stop,
        [&](const InnerFile& file) { return !wanted || wanted(file); },
        [&](const InnerFile& file, int inner) {
            counted.counts.emplace_back(NameOf(file), ScanOpenFile(inner, matcher, &stop, false));
            return counted.counts.size() < most_files;
        });
    return counted;
}

using Counts = std::vector<std::pair<std::string, std::int64_t>>;

// Entries are searched in order as files, those not wanted passed over, large ones streamed; a
// search that reads only the start of an entry, or stops the reading, ends it at once.
TEST(InnerFiles, ArchiveEntriesAreSearchedAsFiles) {
    TempDir dir;
    Python(dir, R"(
import io, sys, tarfile, zipfile
d = sys.argv[1]
big = b"needle in a line of hay\n" * 400000
inner = io.BytesIO()
with tarfile.open(fileobj=inner, mode="w:gz") as t:
    info = tarfile.TarInfo("deep.txt"); info.size = 14; t.addfile(info, io.BytesIO(b"needle needle\n"))
with zipfile.ZipFile(d + "/site.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("index.html", "<p>needle</p>")
    z.writestr("big.log", big)
    z.writestr("skip.bin", "needle")
    z.writestr("old.tar.gz", inner.getvalue())
    z.writestr("none.txt", "hay")
)");
    const std::string zip = dir.Path("site.zip");
    const Counted all = CountIn(
        zip, "needle", [](const InnerFile& file) { return !file.names.back().ends_with(".bin"); });
    EXPECT_TRUE(all.read.status.ok()) << all.read.status.description();
    EXPECT_EQ(
        all.counts,
        (Counts{
            {"index.html", 1}, {"big.log", 400000}, {"old.tar.gz//deep.txt", 2}, {"none.txt", 0}}));

    const std::string failure = testing::RunLimited(30, 64, [&] {
        // The first entry alone, the rest never read; then a visit that reads nothing of a large
        // entry.
        const Counted first = CountIn(zip, "needle", {}, 1);
        std::size_t visits = 0;
        const Fd fd(open(zip.c_str(), O_RDONLY | O_CLOEXEC));
        const InnerRead unread = ReadInnerFiles(
            fd.get(), Container::kArchive, {}, nullptr, [](const InnerFile&) { return true; },
            [&](const InnerFile&, int) {
                ++visits;
                return true;
            });
        return first.counts == Counts{{"index.html", 1}} && unread.status.ok() && visits == 5;
    });
    EXPECT_EQ(failure, "");
}

// A compressed file is one inner file without a name; bytes that are no archive are told so, for
// the file to be searched as it is; a damaged archive is told after the entries before the damage.
TEST(InnerFiles, CompressedPlainAndDamagedFiles) {
    TempDir dir;
    Python(dir, R"(
import gzip, sys, zipfile
d = sys.argv[1]
open(d + "/app.log.gz", "wb").write(gzip.compress(b"error one\nerror two\n"))
open(d + "/plain.gz", "wb").write(b"error, but not compressed\n")
with zipfile.ZipFile(d + "/two.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for name in ("a.txt", "b.txt"):
        z.writestr(name, "".join("error %d\n" % (i * 7919 % 100003) for i in range(20000)))
data = open(d + "/two.zip", "rb").read()
open(d + "/cut.zip", "wb").write(data[:len(data) * 3 // 4])
)");
    const Counted gz = CountIn(dir.Path("app.log.gz"), "error");
    EXPECT_EQ(gz.counts, (Counts{{"", 2}}));
    const Counted plain = CountIn(dir.Path("plain.gz"), "error");
    EXPECT_TRUE(plain.read.not_container);
    EXPECT_TRUE(plain.counts.empty());
    // Cut in the second entry's data: the first is whole.
    const Counted cut = CountIn(dir.Path("cut.zip"), "error");
    EXPECT_FALSE(cut.read.status.ok());
    ASSERT_FALSE(cut.counts.empty());
    EXPECT_EQ(cut.counts.front(), (std::pair<std::string, std::int64_t>{"a.txt", 20000}));
}

// A PDF's pages are its inner files, each its own text.
TEST(InnerFiles, PdfPagesAreSearchedOneByOne) {
    TempDir dir;
    // Two pages, with one and two hits.
    std::string error;
    ASSERT_TRUE(
        testing::WritePdf(dir.Path("manual.pdf"), {{"the ferret"}, {"ferret and ferret"}}, &error))
        << error;
    const Counted pdf = CountIn(dir.Path("manual.pdf"), "ferret");
    EXPECT_TRUE(pdf.read.status.ok()) << pdf.read.status.description();
    EXPECT_EQ(pdf.counts, (Counts{{"#1", 1}, {"#2", 2}}));
    dir.WriteFile("broken.pdf", "%PDF-1.4 and nothing more");
    const Counted broken = CountIn(dir.Path("broken.pdf"), "ferret");
    EXPECT_FALSE(broken.read.status.ok());
    EXPECT_TRUE(broken.counts.empty());
}

TEST(InnerFiles, ContainersAreKnownByTheirNames) {
    EXPECT_EQ(ContainerOf("a.zip"), Container::kArchive);
    EXPECT_EQ(ContainerOf("x.tar.gz"), Container::kArchive);
    EXPECT_EQ(ContainerOf("Manual.PDF"), Container::kPdf);
    EXPECT_EQ(ContainerOf(".pdf"), Container::kNone);
    EXPECT_EQ(ContainerOf("notes.txt"), Container::kNone);
}

}  // namespace
}  // namespace ferret
