#include "util/archive_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "testsupport/limited.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::RunProgram;
using testing::TempDir;

// What a reading gave: each entry's names joined by "//", with its whole data (or "<encrypted>").
struct Read {
    ArchiveRead outcome;
    std::vector<std::pair<std::string, std::string>> entries;
    std::map<std::string, std::uint64_t> told_sizes;
};

Read ReadAll(const std::string& path, const ArchiveLimits& limits = {},
             const std::atomic<bool>* stop = nullptr) {
    Read read;
    const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_GE(fd.get(), 0) << path;
    read.outcome = ReadArchive(
        fd.get(), limits,
        [&](const ArchiveEntry& entry, EntryStream& stream) {
            std::string name;
            for (const std::string& part : entry.names) {
                name += (name.empty() ? "" : "//") + part;
            }
            if (entry.size_known) {
                read.told_sizes[name] = entry.size;
            }
            std::string data;
            if (entry.encrypted) {
                data = "<encrypted>";
            } else {
                char block[4096];
                std::int64_t got = 0;
                while ((got = stream.Read(block, sizeof block)) > 0) {
                    data.append(block, static_cast<std::size_t>(got));
                }
                if (got < 0) {
                    data += "<unreadable>";
                }
            }
            read.entries.emplace_back(name, data);
            return EntryVisit::kNext;
        },
        stop);
    return read;
}

// Reads every entry to its end, keeping nothing; the reading's outcome.
Status Drained(const std::string& path, const ArchiveLimits& limits) {
    const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return ReadArchive(fd.get(), limits,
                       [](const ArchiveEntry&, EntryStream& stream) {
                           char block[65536];
                           while (stream.Read(block, sizeof block) > 0) {
                           }
                           return EntryVisit::kNext;
                       })
        .status;
}

// Runs a Python script with the folder as its argument; it makes the archives there.
void Python(const TempDir& dir, const std::string& script) {
    const testing::ProgramResult made =
        RunProgram(testing::FindProgram("python3"), {"-c", script, dir.path()});
    ASSERT_EQ(made.exit_code, 0) << made.err;
}

void Program(const std::string& program, const std::vector<std::string>& arguments) {
    const testing::ProgramResult made = RunProgram(testing::FindProgram(program), arguments);
    ASSERT_EQ(made.exit_code, 0) << program << ": " << made.err;
}

using Entries = std::vector<std::pair<std::string, std::string>>;

// The same files in every kind of archive, made by Python and bsdtar: every file entry is given
// whole, under its own name, and folders and links are passed over.
TEST(ArchiveReader, ReadsEveryKindOfArchiveEntryByEntry) {
    TempDir dir;
    dir.WriteFile("tree/docs/a.txt", "alpha\n");
    dir.WriteFile("tree/b.txt", std::string(200000, 'b'));
    dir.Symlink("b.txt", "tree/link");
    Python(dir, R"(
import os, sys, tarfile, zipfile
os.chdir(sys.argv[1] + "/tree")
with zipfile.ZipFile("../t.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.write("docs"); z.write("docs/a.txt"); z.write("b.txt")
for name, mode in (("t.tar", "w"), ("t.tar.gz", "w:gz"), ("t.tgz", "w:gz"),
                   ("t.tar.bz2", "w:bz2"), ("t.tar.xz", "w:xz")):
    with tarfile.open("../" + name, mode) as t:
        t.add("docs"); t.add("b.txt"); t.add("link")
)");
    const std::string tree = dir.Path("tree");
    Program("bsdtar", {"--format", "7zip", "-cf", dir.Path("t.7z"), "-C", tree, "docs", "b.txt"});
    Program("bsdtar",
            {"--format", "newc", "-cf", dir.Path("t.cpio"), "-C", tree, "docs", "b.txt", "link"});
    Program("bsdtar", {"--zstd", "-cf", dir.Path("t.tar.zst"), "-C", tree, "docs", "b.txt"});
    for (const char* name : {"t.zip", "t.tar", "t.tar.gz", "t.tgz", "t.tar.bz2", "t.tar.xz", "t.7z",
                             "t.cpio", "t.tar.zst"}) {
        SCOPED_TRACE(name);
        const Read read = ReadAll(dir.Path(name));
        EXPECT_TRUE(read.outcome.status.ok()) << read.outcome.status.description();
        EXPECT_FALSE(read.outcome.not_archive);
        std::map<std::string, std::string> got(read.entries.begin(), read.entries.end());
        EXPECT_EQ(got, (std::map<std::string, std::string>{{"docs/a.txt", "alpha\n"},
                                                           {"b.txt", std::string(200000, 'b')}}));
    }
}

// A compressed file that holds no archive is one entry, the file itself; a file with an
// archive's name that is neither is no archive at all.
TEST(ArchiveReader, CompressedFilesAreTheirOwnEntry) {
    TempDir dir;
    const std::string text = "line one\nline two\n";
    dir.WriteFile("plain.log", text);
    Python(dir, R"(
import bz2, gzip, lzma, sys
d = sys.argv[1]
data = open(d + "/plain.log", "rb").read()
open(d + "/p.gz", "wb").write(gzip.compress(data))
open(d + "/p.bz2", "wb").write(bz2.compress(data))
open(d + "/p.xz", "wb").write(lzma.compress(data))
open(d + "/empty.gz", "wb").write(gzip.compress(b""))
)");
    Program("zstd", {"-q", dir.Path("plain.log"), "-o", dir.Path("p.zst")});
    for (const char* name : {"p.gz", "p.bz2", "p.xz", "p.zst"}) {
        SCOPED_TRACE(name);
        const Read read = ReadAll(dir.Path(name));
        EXPECT_TRUE(read.outcome.status.ok()) << read.outcome.status.description();
        EXPECT_EQ(read.entries, (Entries{{"", text}}));
    }
    const Read empty = ReadAll(dir.Path("empty.gz"));
    EXPECT_TRUE(empty.outcome.status.ok());
    EXPECT_FALSE(empty.outcome.not_archive);
    EXPECT_TRUE(empty.entries.empty());
    dir.WriteFile("notes.gz", "not compressed at all\n");
    const Read plain = ReadAll(dir.Path("notes.gz"));
    EXPECT_TRUE(plain.outcome.not_archive);
    EXPECT_TRUE(plain.entries.empty());
}

// Archives inside archives are opened two deep; deeper ones, and entries that only bear an
// archive's name, are given as they are.
TEST(ArchiveReader, NestedArchivesOpenTwoDeep) {
    TempDir dir;
    Python(dir, R"(
import io, sys, tarfile, zipfile
def tar_gz(files):
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w:gz") as t:
        for name, data in files:
            info = tarfile.TarInfo(name); info.size = len(data); t.addfile(info, io.BytesIO(data))
    return out.getvalue()
def zip_of(files):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files:
            z.writestr(name, data)
    return out.getvalue()
deepest = zip_of([("deep.txt", b"deep")])
inner = tar_gz([("c.txt", b"gamma"), ("deeper.zip", deepest)])
open(sys.argv[1] + "/outer.zip", "wb").write(
    zip_of([("a.txt", b"alpha"), ("sub/inner.tar.gz", inner), ("fake.zip", b"just text"),
            ("z.txt", b"zeta")]))
)");
    const Read read = ReadAll(dir.Path("outer.zip"));
    EXPECT_TRUE(read.outcome.status.ok()) << read.outcome.status.description();
    ASSERT_EQ(read.entries.size(), 5u);
    EXPECT_EQ(read.entries[0], (std::pair<std::string, std::string>{"a.txt", "alpha"}));
    EXPECT_EQ(read.entries[1],
              (std::pair<std::string, std::string>{"sub/inner.tar.gz//c.txt", "gamma"}));
    EXPECT_EQ(read.entries[2].first, "sub/inner.tar.gz//deeper.zip");
    EXPECT_EQ(read.entries[2].second.substr(0, 4), "PK\x03\x04");
    EXPECT_EQ(read.entries[3], (std::pair<std::string, std::string>{"fake.zip", "just text"}));
    EXPECT_EQ(read.entries[4], (std::pair<std::string, std::string>{"z.txt", "zeta"}));

    ArchiveLimits flat;
    flat.most_depth = 1;
    const Read one = ReadAll(dir.Path("outer.zip"), flat);
    ASSERT_EQ(one.entries.size(), 4u);
    EXPECT_EQ(one.entries[1].first, "sub/inner.tar.gz");
}

// Damaged archives are told, with what was read before the damage; nothing crashes or hangs.
TEST(ArchiveReader, DamagedArchivesAreTold) {
    TempDir dir;
    Python(dir, R"(
import io, sys, tarfile, zipfile
d = sys.argv[1]
with zipfile.ZipFile(d + "/good.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("a.txt", "alpha " * 1000); z.writestr("b.txt", "beta " * 1000)
data = open(d + "/good.zip", "rb").read()
open(d + "/cut.zip", "wb").write(data[:len(data) // 2])
bad = bytearray(data); bad[60:80] = b"\xff" * 20
open(d + "/flipped.zip", "wb").write(bytes(bad))
with tarfile.open(d + "/good.tar.gz", "w:gz") as t:
    for name in ("a.txt", "b.txt"):
        payload = (name * 5000).encode()
        info = tarfile.TarInfo(name); info.size = len(payload); t.addfile(info, io.BytesIO(payload))
data = open(d + "/good.tar.gz", "rb").read()
open(d + "/cut.tar.gz", "wb").write(data[:len(data) // 2])
)");
    dir.WriteFile("tree/a.txt", std::string(100000, 'a'));
    Program("bsdtar",
            {"--format", "7zip", "-cf", dir.Path("good.7z"), "-C", dir.Path("tree"), "a.txt"});
    const std::string seven = dir.ReadFile("good.7z");
    dir.WriteFile("cut.7z", seven.substr(0, seven.size() - 40));
    for (const char* name : {"cut.zip", "flipped.zip", "cut.tar.gz", "cut.7z"}) {
        SCOPED_TRACE(name);
        const std::string failure = testing::RunLimited(20, 64, [&] {
            const Read read = ReadAll(dir.Path(name));
            bool unreadable = false;
            for (const auto& [entry, data] : read.entries) {
                unreadable = unreadable || data.ends_with("<unreadable>");
            }
            return !read.outcome.status.ok() || unreadable;
        });
        EXPECT_EQ(failure, "");
    }
}

// A bomb is left once it unpacks past a limit, in bounded time and memory, nested or not.
TEST(ArchiveReader, BombsAreLeftWithinTheLimits) {
    TempDir dir;
    // One layer of zeros, and 42.zip's way: layers of zips of zips, each packed again.
    Python(dir, R"(
import io, sys, zipfile
d = sys.argv[1]
zeros = b"\0" * (80 << 20)
with zipfile.ZipFile(d + "/bomb.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("zeros.txt", zeros)
layer = io.BytesIO()
with zipfile.ZipFile(layer, "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(4):
        z.writestr("zeros%d.txt" % i, zeros)
with zipfile.ZipFile(d + "/nested.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(4):
        z.writestr("layer%d.zip" % i, layer.getvalue())
)");
    for (const char* name : {"bomb.zip", "nested.zip"}) {
        SCOPED_TRACE(name);
        const std::string failure = testing::RunLimited(30, 64, [&] {
            const Status status = Drained(dir.Path(name), {});
            return status.number() == EFBIG &&
                   status.description().find("archive bomb") != std::string::npos;
        });
        EXPECT_EQ(failure, "");
    }
    // Under the ratio, the total still bounds it.
    ArchiveLimits small;
    small.most_ratio = 1u << 30;
    small.most_unpacked = 16u << 20;
    const Status status = Drained(dir.Path("bomb.zip"), small);
    EXPECT_EQ(status.number(), EFBIG);
    EXPECT_NE(status.description().find("16 MiB"), std::string::npos) << status.description();
}

// Names are given as the archive holds them, however hostile; an encrypted entry is told as
// such, and the entries after it are read.
TEST(ArchiveReader, NamesAreDataAndEncryptedEntriesAreTold) {
    TempDir dir;
    Python(dir, R"(
import io, sys, tarfile
with tarfile.open(sys.argv[1] + "/names.tar", "w") as t:
    for name in ("../../escape.txt", "/etc/absolute.txt", "bell\x07\x1b[31m.txt"):
        info = tarfile.TarInfo(name); info.size = 2; t.addfile(info, io.BytesIO(b"hi"))
)");
    const Read names = ReadAll(dir.Path("names.tar"));
    EXPECT_TRUE(names.outcome.status.ok());
    EXPECT_EQ(names.entries, (Entries{{"../../escape.txt", "hi"},
                                      {"/etc/absolute.txt", "hi"},
                                      {"bell\x07\x1b[31m.txt", "hi"}}));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"names.tar"}));

    dir.WriteFile("secret/a.txt", "hidden");
    Program("bsdtar", {"--format", "zip", "--options", "zip:encryption=zipcrypt", "--passphrase",
                       "pw", "-cf", dir.Path("locked.zip"), "-C", dir.Path("secret"), "a.txt"});
    const Read locked = ReadAll(dir.Path("locked.zip"));
    EXPECT_EQ(locked.entries, (Entries{{"a.txt", "<encrypted>"}}));
}

// The visitor and the stop flag end a reading at once, and a large entry is streamed.
TEST(ArchiveReader, StopsWhenAskedAndStreamsLargeEntries) {
    TempDir dir;
    Python(dir, R"(
import gzip, sys, zipfile
d = sys.argv[1]
with zipfile.ZipFile(d + "/three.zip", "w") as z:
    for name in ("1.txt", "2.txt", "3.txt"):
        z.writestr(name, name)
with gzip.open(d + "/big.gz", "wb", compresslevel=1) as g:
    line = b"".join(b"%08d some text of a log line\n" % i for i in range(10000))
    for _ in range(100):
        g.write(line)
)");
    int visited = 0;
    const Fd fd(open(dir.Path("three.zip").c_str(), O_RDONLY | O_CLOEXEC));
    const ArchiveRead read = ReadArchive(fd.get(), {}, [&](const ArchiveEntry&, EntryStream&) {
        ++visited;
        return EntryVisit::kStop;
    });
    EXPECT_TRUE(read.stopped);
    EXPECT_EQ(visited, 1);

    const std::atomic<bool> stop{true};
    const Read stopped = ReadAll(dir.Path("big.gz"), {}, &stop);
    EXPECT_TRUE(stopped.outcome.stopped);

    const std::string failure = testing::RunLimited(30, 48, [&] {
        std::uint64_t bytes = 0;
        const Fd big(open(dir.Path("big.gz").c_str(), O_RDONLY | O_CLOEXEC));
        const ArchiveRead whole =
            ReadArchive(big.get(), {}, [&](const ArchiveEntry&, EntryStream& stream) {
                char block[65536];
                std::int64_t got = 0;
                while ((got = stream.Read(block, sizeof block)) > 0) {
                    bytes += static_cast<std::uint64_t>(got);
                }
                return EntryVisit::kNext;
            });
        return whole.status.ok() && bytes == 100u * 10000u * 33u;
    });
    EXPECT_EQ(failure, "");
}

TEST(ArchiveReader, ArchivesAreKnownByTheirNames) {
    for (const char* name : {"a.zip", "A.ZIP", "x.tar", "x.tar.gz", "x.TGZ", "x.tbz2", "x.txz",
                             "x.tzst", "x.7z", "x.cpio", "x.gz", "x.bz2", "x.xz", "x.zst"}) {
        EXPECT_TRUE(LooksLikeArchive(name)) << name;
    }
    for (const char* name : {"zip", ".gz", "a.txt", "a.zipx", "a.tar.gz.txt", "gz"}) {
        EXPECT_FALSE(LooksLikeArchive(name)) << name;
    }
    // What a compressed file holds is named without its ending.
    EXPECT_EQ(DataNameOf("app.log.GZ"), "app.log");
    EXPECT_EQ(DataNameOf("site.tar.zst"), "site.tar");
    EXPECT_EQ(DataNameOf("a.zip"), "a.zip");
    EXPECT_EQ(DataNameOf(".xz"), ".xz");
}

}  // namespace
}  // namespace ferret
