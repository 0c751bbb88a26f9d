#include "engine/content_replace.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include "engine/change_finder.h"
#include "engine/regex.h"
#include "testsupport/temp_dir.h"
#include "testsupport/unprivileged.h"
#include "util/app_paths.h"
#include "util/text_encoding.h"

namespace ferret {
namespace {

using testing::TempDir;

RegExp Compiled(const std::string& pattern, bool ignore_case = false) {
    RegExp regex;
    EXPECT_TRUE(regex.Compile(pattern, ignore_case).ok()) << pattern;
    return regex;
}

RewriteResult Replace(const std::string& path, const std::string& pattern,
                      const std::string& replacement, const std::function<void()>& hook = {}) {
    return ReplaceFilePattern(path, Compiled(pattern), replacement, nullptr, {}, hook);
}

TEST(ApprovedExtensions, ContainmentInTheListText) {
    const std::string list = kBuiltInExtensions;
    const std::pair<const char*, bool> cases[] = {
        {"index.html", true}, {"INDEX.HTM", true},       {"notes.txt", true}, {"Makefile", true},
        {"app.log", false},   {"main.h", true},          {"main.c", true},    {"a.sh", false},
        {".bashrc", false},   {"archive.tar.gz", false},
    };
    for (const auto& [name, approved] : cases) {
        EXPECT_EQ(IsApprovedForReplace(name, list), approved) << name;
    }
    EXPECT_TRUE(IsApprovedForReplace("app.log", std::string(".log,.sh,") + list));
}

TEST(ReplaceFilePattern, CountsReplacementsAndKeepsOtherBytes) {
    TempDir dir;
    const std::string bytes = std::string("a.b\r\n\0\xff\xfe a.b axb\r\n", 19);
    dir.WriteFile("f.txt", bytes);
    const RewriteResult result = Replace(dir.Path("f.txt"), "a\\.b", "[$&$&]");
    EXPECT_EQ(result.count, 2);
    const std::string expected = std::string("[a.ba.b]\r\n\0\xff\xfe [a.ba.b] axb\r\n", 29);
    EXPECT_EQ(dir.ReadFile("f.txt"), expected);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"f.txt"});

    dir.WriteFile("empty.txt", "");
    EXPECT_EQ(Replace(dir.Path("empty.txt"), "x", "y").count, 0);
}

TEST(ReplaceFilePattern, KeepsModeOwnerAndExtendedAttributes) {
    TempDir dir;
    dir.WriteFile("run.sh", "#!/bin/sh\necho old\n");
    chmod(dir.Path("run.sh").c_str(), 0750);
    const bool has_xattr = setxattr(dir.Path("run.sh").c_str(), "user.origin", "kept", 4, 0) == 0;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.Path("run.sh").c_str(), 65534, 65534), 0);
    }
    struct stat before {};
    stat(dir.Path("run.sh").c_str(), &before);
    ASSERT_EQ(Replace(dir.Path("run.sh"), "old", "new").count, 1);
    struct stat after {};
    stat(dir.Path("run.sh").c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, 0750u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file took the old one's place
    if (has_xattr) {
        char value[16] = {};
        EXPECT_EQ(getxattr(dir.Path("run.sh").c_str(), "user.origin", value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
    }
    EXPECT_EQ(dir.ReadFile("run.sh"), "#!/bin/sh\necho new\n");
}

// The new content is written beside the file as ".NAME.ferret-XXXXXX" first; NAME is shortened
// when that would be longer than the folder allows, and cut between characters when it is UTF-8.
TEST(ReplaceFilePattern, NamesAsLongAsTheFolderAllowsAreReplaced) {
    TempDir dir;
    const long longest = pathconf(dir.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(longest, 20);
    const std::size_t size = static_cast<std::size_t>(longest);
    // Characters of `character`'s width up to `length` bytes, after as much of "xyz" as is needed.
    const auto repeated = [](std::size_t length, const std::string& character) {
        std::string name = std::string("xyz").substr(0, length % character.size());
        while (name.size() < length) {
            name += character;
        }
        return name;
    };
    const std::string names[] = {
        std::string(size - 4, 'a') + ".txt",
        repeated(size, "\xC3\xA9"),
        repeated(size - 1, "\xE2\x82\xAC"),
        repeated(size, "\xF0\x9F\x98\x80"),
        std::string(size, '\xE9'),  // not UTF-8
        "f.txt",
    };
    for (const std::string& name : names) {
        dir.WriteFile(name, "old");
        std::string temporary;
        const RewriteResult result = Replace(dir.Path(name), "old", "new", [&] {
            for (const std::string& there : dir.Names()) {
                if (there != name) {
                    temporary = there;
                }
            }
        });
        ASSERT_EQ(result.count, 1) << name.size() << ": " << result.error;
        EXPECT_EQ(dir.ReadFile(name), "new");
        EXPECT_EQ(dir.Names(), std::vector<std::string>{name});
        ASSERT_GT(temporary.size(), 15u);
        EXPECT_LE(temporary.size(), size);
        const std::size_t kept = temporary.size() - 15;
        EXPECT_EQ(temporary.substr(0, kept + 9), "." + name.substr(0, kept) + ".ferret-");
        EXPECT_EQ(IsValidUtf8(temporary), IsValidUtf8(name)) << temporary;
        if (name.size() < 200) {
            EXPECT_EQ(kept, name.size());  // a name of usual length is kept whole
        }
        unlink(dir.Path(name).c_str());
    }
}

TEST(ReplaceFilePattern, RefusalsLeaveTheFileExactlyAsItWas) {
    TempDir dir;
    dir.WriteFile("moving.txt", "old");
    RewriteResult result = Replace(dir.Path("moving.txt"), "old", "new",
                                   [&] { dir.WriteFile("moving.txt", "theirs"); });
    EXPECT_EQ(result.count, kNotSearched);
    EXPECT_EQ(dir.ReadFile("moving.txt"), "theirs");

    dir.WriteFile("gone.txt", "old");
    result =
        Replace(dir.Path("gone.txt"), "old", "new", [&] { unlink(dir.Path("gone.txt").c_str()); });
    EXPECT_EQ(result.count, kNotSearched);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"moving.txt"});
    EXPECT_EQ(Replace(dir.Path("never-there.txt"), "old", "new").count, kNotSearched);
}

TEST(ReplaceFilePattern, FailedWritesLeaveNoTrace) {
    TempDir dir;
    chmod(dir.path().c_str(), 0777);
    const std::string original(4096, 'o');
    dir.WriteFile("big.txt", original);
    // A file size limit stands in for a full disk; root obeys it too.
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        const RewriteResult result = Replace(dir.Path("big.txt"), "o", "n");
        _exit(result.count == kNotSearched && result.error.find("write") != std::string::npos ? 0
                                                                                              : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(dir.ReadFile("big.txt"), original);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"big.txt"});

    // A folder we may not write: the new file cannot be made there.
    const int unprivileged = testing::RunUnprivileged([&] {
        const std::string folder = dir.Path("locked");
        if (mkdir(folder.c_str(), 0755) != 0) {
            return false;
        }
        dir.WriteFile("locked/mine.txt", "old");
        chmod(folder.c_str(), 0555);
        const RewriteResult result = Replace(folder + "/mine.txt", "old", "new");
        return result.count == kNotSearched && dir.ReadFile("locked/mine.txt") == "old" &&
               dir.Names("locked") == std::vector<std::string>{"mine.txt"};
    });
    EXPECT_EQ(unprivileged, 0);
}

TEST(LastRewrite, ReplacesALinkRatherThanWritingThroughIt) {
    TempDir dir;
    dir.WriteFile("victim.txt", "keep me");
    ASSERT_TRUE(EnsureDataFolder().ok());
    unlink(LastRewritePath().c_str());
    ASSERT_EQ(symlink(dir.Path("victim.txt").c_str(), LastRewritePath().c_str()), 0);
    ASSERT_TRUE(KeepLastRewrite("new content").ok());
    EXPECT_EQ(dir.ReadFile("victim.txt"), "keep me");
    struct stat info {};
    ASSERT_EQ(lstat(LastRewritePath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
}

// What the last rewritten file got is the user's alone, whatever the umask allows.
TEST(LastRewrite, IsPrivateToTheUser) {
    const mode_t umask_before = umask(0);
    const Status kept = KeepLastRewrite("private content");
    umask(umask_before);
    ASSERT_TRUE(kept.ok());
    struct stat info {};
    ASSERT_EQ(lstat(LastRewritePath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_uid, geteuid());
}

// A preview tells a file changed since by its digest: a byte changed anywhere, words moved
// between the digest's lanes and one byte more all tell.
TEST(ContentDigest, TellsEveryChange) {
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text += static_cast<char>('a' + i % 7);
    }
    for (std::size_t size = 0; size <= text.size(); ++size) {
        const std::string_view before(text.data(), size);
        const std::uint64_t digest = ContentDigest(before);
        EXPECT_NE(ContentDigest(std::string(before) + '\0'), digest) << size;
        for (std::size_t at = 0; at < size; ++at) {
            std::string changed(before);
            changed[at] = static_cast<char>(changed[at] ^ 0x20);
            ASSERT_NE(ContentDigest(changed), digest) << size << " " << at;
        }
        if (size >= 64) {
            std::string swapped(before);
            std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + 8 + 1);
            EXPECT_NE(ContentDigest(swapped), digest);
            std::string moved(before);
            std::swap_ranges(moved.begin(), moved.begin() + 8, moved.begin() + 32);
            EXPECT_NE(ContentDigest(moved), digest);
        }
    }
}

// A preview names files by their real paths, reached through links to folders or files or by
// a name with "." and "..".
TEST(RealPaths, ResolveFoldersOnceAndFileLinks) {
    TempDir dir;
    dir.WriteFile("real/file.txt", "x");
    dir.Symlink("real", "folder-link");
    dir.Symlink("real/file.txt", "file-link.txt");
    char* resolved = realpath(dir.path().c_str(), nullptr);
    ASSERT_NE(resolved, nullptr);
    const std::string root = resolved;
    free(resolved);
    RealPaths paths;
    EXPECT_EQ(paths.Of(dir.Path("real/file.txt")), root + "/real/file.txt");
    EXPECT_EQ(paths.Of(dir.Path("folder-link/file.txt")), root + "/real/file.txt");
    EXPECT_EQ(paths.Of(dir.Path("file-link.txt")), root + "/real/file.txt");
    EXPECT_EQ(paths.Of(dir.Path("real/../real/./file.txt")), root + "/real/file.txt");
    EXPECT_EQ(paths.Of(dir.Path("real/missing.txt")), "");
    EXPECT_EQ(paths.Of(std::string("/")), "/");
}

// A preview that only counts reads a file a block at a time: its count is the whole file's, for
// changes across the blocks' seams and texts that overlap themselves, and it keeps the file's
// identity instead of a digest.
TEST(PreparePreview, CountingInBlocksGivesTheWholeFilesCount) {
    TempDir dir;
    std::mt19937 random(3);
    for (const std::string search : {"aa", "aba", "abcab", "a", "ab", "ba"}) {
        const ChangeFinder finder(search, "X", false, false, false);
        for (const std::size_t size :
             {std::size_t{10}, std::size_t{65535}, std::size_t{65537}, std::size_t{200000}}) {
            std::string text;
            while (text.size() < size) {
                text += "ab"[random() % 2];
                if (random() % 3 == 0) {
                    text += std::string(random() % 7, 'a');
                }
            }
            text.resize(size);
            dir.WriteFile("f.txt", text);
            RewritePlan counted;
            RewritePlan whole;
            const RewriteResult fast =
                PreparePreview(dir.Path("f.txt"), finder, {}, nullptr, 0, counted, false);
            const RewriteResult slow =
                PreparePreview(dir.Path("f.txt"), finder, {}, nullptr, 0, whole, true);
            ASSERT_EQ(fast.count, slow.count) << search << " " << size;
            EXPECT_TRUE(counted.edits.empty());
            if (slow.count > 0) {
                struct stat file {};
                ASSERT_EQ(stat(dir.Path("f.txt").c_str(), &file), 0);
                EXPECT_TRUE(counted.seen == IdentityOf(file));
                EXPECT_TRUE(whole.seen == counted.seen);
                EXPECT_TRUE(slow.rewritten);
                EXPECT_TRUE(fast.rewritten);
            }
        }
    }
    // A marked file is decoded whole, counted as its text.
    dir.WriteFile("bom.txt",
                  "\xEF\xBB\xBF"
                  "aa aa");
    RewritePlan marked;
    const ChangeFinder finder("aa", "b", false, false, false);
    EXPECT_EQ(PreparePreview(dir.Path("bom.txt"), finder, {}, nullptr, 0, marked, false).count, 2);
    EXPECT_EQ(marked.mark, ByteOrderMark::kUtf8);
}

// The bytes of a prepared rewrite's new file.
std::string NewBytes(const PreparedRewrite& rewrite) {
    std::string bytes;
    const off_t size = lseek(rewrite.output.get(), 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(size));
    EXPECT_EQ(pread(rewrite.output.get(), bytes.data(), bytes.size(), 0), size);
    return bytes;
}

// Changes chosen from a preview are made as the file is read: across block ends, longer than a
// block, at its very start and end. Bytes changed since, or changes that do not fit, leave the
// file alone and no new file behind.
TEST(PrepareChosenRewrite, ChosenChangesAreMadeAsTheFileIsRead) {
    const TempDir dir;
    std::mt19937 random(11);
    std::string text;
    while (text.size() < 300000) {
        text +=
            "some text \xC3\xA9 " + std::to_string(random() % 1000) + (random() % 4 ? " " : "\n");
    }
    std::vector<TextEdit> edits = {{0, 2, "SO"}};
    for (std::size_t at = 100; at + 70000 < text.size(); at += 1 + random() % 40000) {
        const std::size_t length = random() % 5 == 0 ? 70000 : random() % 9;
        edits.push_back({at, at + length, std::string(random() % 4, 'N')});
        at += length;
    }
    edits.push_back({text.size(), text.size(), "END"});
    dir.WriteFile("f.txt", text);
    struct stat info {};
    ASSERT_EQ(stat(dir.Path("f.txt").c_str(), &info), 0);
    const ChangeFinder finder("x", "y", false, false, false);
    const auto prepare = [&](std::uint64_t digest, const std::vector<TextEdit>& chosen,
                             PreparedRewrite& rewrite) {
        return PrepareChosenRewrite(dir.Path("f.txt"), digest, IdentityOf(info), &chosen, finder,
                                    {}, rewrite);
    };
    PreparedRewrite rewrite;
    const RewriteResult made = prepare(ContentDigest(text), edits, rewrite);
    ASSERT_TRUE(made.rewritten) << made.error;
    EXPECT_EQ(made.count, static_cast<std::int32_t>(edits.size()));
    EXPECT_TRUE(NewBytes(rewrite) == ApplyEdits(text, edits));
    DropNewFile(rewrite);

    PreparedRewrite stale;
    const RewriteResult changed = prepare(ContentDigest(text + "!"), edits, stale);
    EXPECT_FALSE(changed.rewritten);
    EXPECT_EQ(changed.error, kChangedSincePreview);
    PreparedRewrite misfit;
    EXPECT_FALSE(
        prepare(ContentDigest(text), {{text.size(), text.size() + 1, "x"}}, misfit).rewritten);
    EXPECT_FALSE(prepare(ContentDigest(text), {{5, 9, "x"}, {7, 8, "y"}}, misfit).rewritten);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"f.txt"});
    EXPECT_TRUE(dir.ReadFile("f.txt") == text);
}

}  // namespace
}  // namespace ferret
