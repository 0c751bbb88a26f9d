#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/change_lines.h"
#include "engine/content_search.h"
#include "engine/text_edit.h"
#include "util/extension_list.h"
#include "util/file_handle.h"
#include "util/legacy_text.h"
#include "util/text_encoding.h"

namespace ferret {

class ChangeFinder;

class RegExp;

// Whether a replace run may rewrite `file_name`: its extension (from the last point, empty when
// there is none) occurs anywhere in `list`, ignoring case. So a file without an extension is
// approved, and so is ".h" (it is part of ".htm").
bool IsApprovedForReplace(std::string_view file_name, std::string_view list);

// Deletes a file and ignores every failure.
void DeleteFileQuietly(const std::string& path);

// The error number of a file that could not be rewritten as asked and was left as it is (the
// log's "Path/File access error").
inline constexpr int kFileAccessError = 75;

// Why a file that changed after it was read was left alone.
inline constexpr char kChangedMeanwhile[] =
    "the file changed while it was being rewritten; it was left as it is";

// What a rewrite produced, for the caller to keep.
struct RewriteResult {
    std::int32_t count = 0;     // replacements made, or kNotSearched
    std::string error;          // why the file was left alone, when count is kNotSearched
    bool rewritten = false;     // false also when every match was replaced by itself
    bool name_is_link = false;  // for a preview: the file was reached through a link
};

// A rewrite worked out and checked but not yet made: the new bytes of a file, then a new file
// beside it under a temporary name, then the switch of the name to the new file.
struct PreparedRewrite {
    std::string target;     // the file to replace, links resolved
    int folder = -1;        // its folder, open
    std::string name;       // its name there
    int input = -1;         // the file as it was read
    struct stat before {};  // its state then
    mode_t mode = 0;        // the new file's permissions
    std::string content;    // the new bytes, unless `written`
    std::string temporary;  // the new file's name in `folder`
    Fd output;              // the new file, once made (open for reading and writing)
    Fd folder_holder;       // owners of `folder` and `input` when the rewrite opened them
    Fd input_holder;
    // `output` holds the new bytes already: written as the file was read. It may have no name
    // yet (`unnamed`, made with O_TMPFILE): MakeNewFile gives it `temporary`, so a run killed
    // before that leaves nothing behind.
    bool written = false;
    bool unnamed = false;
    // Asked for before the rewrite is worked out (a restore point keeps them): the checksums
    // (ContentChecksum) of the old and the new bytes, and the old bytes' number.
    bool want_checksums = false;
    std::string old_checksum;
    std::string new_checksum;
    std::uint64_t old_size = 0;
};

// A fresh name for a new file beside `name` in `folder`: ".NAME.ferret-XXXXXX" with random
// letters, NAME shortened to fit the longest name the folder allows.
std::string NewTemporaryName(int folder, std::string_view name);
// Makes the new file `rewrite.temporary` with the new bytes (or names the one `written`) and the
// old file's owner, group, extended attributes and `rewrite.mode` (and the times `times` when
// given), not yet flushed. Returns an empty text, or why not (nothing is then left behind).
std::string MakeNewFile(PreparedRewrite& rewrite, const timespec* times);
// Switches the name to the new file in one rename, unless the old file changed since `before`
// (the new file is then removed). `before_swap` runs just before the last look (for tests).
std::string SwitchIn(PreparedRewrite& rewrite, const std::function<void()>& before_swap = {});
// Removes the new file, when one was made.
void DropNewFile(PreparedRewrite& rewrite);

// Replaces the regular file `target`, open as `input` and in the state `before` when it was read,
// with `content` in one rename: a new file in the same folder takes the old one's owner, group
// and extended attributes, the permissions `mode` and, when given, the access and modification
// times `times` (as futimens). Returns an empty text, or why the file was left as it is, also
// when it changed since `before`. `before_swap` runs just before the rename (for tests).
std::string SwapInContent(const std::string& target, int input, const struct stat& before,
                          std::string_view content, mode_t mode, const timespec* times,
                          const std::function<void()>& before_swap = {});
// The same for the file `name` in the open folder `folder`, which is not looked up again.
std::string SwapInContentAt(int folder, const std::string& name, int input,
                            const struct stat& before, std::string_view content, mode_t mode,
                            const timespec* times, const std::function<void()>& before_swap = {});

// Why the file at `path` may not be rewritten, or an empty text: the same rules as for a text
// rewrite (a regular file, not reached through another user's link, not read-only, ours unless
// we are root), for files another program rewrites.
std::string WhyNotRewritable(const std::string& path);

// The folder a run was sent to, which every file it rewrites must lie beneath: no link, the
// user's own included, leads a rewrite out of it (a tree copied with its absolute links would
// otherwise change the files they point to). Opened once, its own links resolved: the user
// named it. Immutable after construction; safe to share between threads.
class StartFolder {
  public:
    explicit StartFolder(const std::string& path);

    // The folder's real path; empty when it could not be opened (nothing lies beneath it then).
    const std::string& real() const { return real_; }
    // `target`, a real path, relative to the folder ("" for the folder itself); nothing when it
    // lies outside.
    std::optional<std::string> Inside(const std::string& target) const;
    // Whether the file at `path`, its links resolved, lies outside the folder (false when it
    // cannot be resolved: opening it will tell why).
    bool LeadsOut(const std::string& path) const;
    // Opens the folder `relative` (a real path's part beneath this folder, as Inside gives it)
    // beneath this one without following any link, so that none put on the way since leads
    // out. An O_PATH descriptor, or -1 with errno set (ELOOP or EXDEV for a link on the way).
    int OpenFolderBeneath(const std::string& relative) const;
    // Why a file that resolves outside the folder was not rewritten.
    std::string OutsideText() const;

  private:
    std::string real_;
    Fd fd_;
};

// A file to work on: its path (for messages, and to follow a link to the file), opened as `name`
// in the open folder `folder`, which is not looked up again. A path alone is opened as it is.
// `regular`: the walk found a regular file there, not a link, and no link is followed to it.
// `beneath`: when set, the file is rewritten only when it lies beneath that folder.
struct FilePlace {
    FilePlace(const std::string& file_path)  // NOLINT(google-explicit-constructor)
        : path(file_path), name(file_path) {}
    FilePlace(const std::string& file_path, int open_folder, const std::string& file_name,
              bool walked_regular = false, const StartFolder* start = nullptr)
        : path(file_path),
          folder(open_folder),
          name(file_name),
          regular(walked_regular),
          beneath(start) {}
    const std::string& path;
    int folder = AT_FDCWD;
    const std::string& name;
    bool regular = false;
    const StartFolder* beneath = nullptr;
    // A binary file (LeftOutAsBinary) is left alone and its count is kLeftOutBinary.
    bool skip_binary = false;
    // How a file without a byte-order mark is decoded (TextBlocks); it outlives this.
    const EncodingChoice* encoding = &kFoundEncodings;
};

// A file as it was looked at, told apart from itself after any write without reading it again:
// a write changes its change time (and a new file in its place, its number).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};
FileIdentity IdentityOf(const struct stat& file);

// What a rewrite would change in a file, for a preview, and to rewrite only part of it later.
struct RewritePlan {
    std::vector<TextEdit> edits;  // of the file's text as decoded, in order
    ChangeLines lines;            // where the edits are by line, for a view (PreviewChanges)
    bool holds_nul = false;  // asked with its changes: a NUL byte, which a text patch cannot carry
    ByteOrderMark mark = ByteOrderMark::kNone;
    // The legacy encoding its text was decoded from, without a mark (empty: UTF-8). Read again,
    // the file is decoded from it.
    std::string legacy;
    std::uint64_t digest = 0;  // of the bytes read (ContentDigest), when its changes were found
    // The file as it was read. A preview that only counts keeps no digest: the changes are
    // found again while the file is still as it was.
    FileIdentity seen;
};
// A digest of a file's bytes that tells whether they changed (XXH3, not for adversaries:
// only files of our own are rewritten).
std::uint64_t ContentDigest(std::string_view bytes);
// The digest of the file at `path` as it is now; 0 when it cannot be read.
std::uint64_t FileDigest(const std::string& path);

// The real paths of files, each folder resolved once: a preview names each file it would
// change by its real path without a look at every part of each path.
class RealPaths {
  public:
    // The real path of the file at `place`; empty when it cannot be resolved. `name_is_link`,
    // when known, saves a look at the name.
    std::string Of(const FilePlace& place, std::optional<bool> name_is_link = std::nullopt);

  private:
    std::mutex mutex_;
    std::unordered_map<std::string, std::string> folders_;  // protected by mutex_
};

// Why a file changed after its preview was left alone.
inline constexpr char kChangedSincePreview[] =
    "the file changed after the preview; it was left as it is";

// Works out the rewrite of the file at `place`: `count` as for ReplaceFilePattern, and when
// `rewritten`, `rewrite` is ready for MakeNewFile. The file is read a block at a time and its
// new bytes written, from its first change on, to a new file beside it (unnamed where the file
// system allows), so any file takes the same memory; the file itself is not touched. A file in
// UTF-16 is decoded and encoded again as it goes. A replacement that takes the text before or
// after a match ("$`", "$'") needs the whole text: up to the pattern's LongestMatch bytes.
// `hits`, when given, receives the
// lines of the new text that hold replacements, with `context` lines around each.
RewriteResult PrepareRewrite(const FilePlace& place, const RegExp& pattern,
                             std::string_view replacement, const PatternShortcut* shortcut,
                             const DetailsSink& details, PreparedRewrite& rewrite,
                             FileHits* hits = nullptr, int context = 0);

// Previews the rewrite of the file at `place`, which stays as it is, a block at a time: `count`
// as for PrepareRewrite, and `rewritten` when the file would change and may be rewritten. `plan`
// gets the file's identity and mark and, with `changes` (for a patch made later with
// StreamChanges), whether its text holds a NUL byte. `hits` as for PrepareRewrite.
RewriteResult PreparePreview(const FilePlace& place, const ChangeFinder& finder,
                             const DetailsSink& details, FileHits* hits, int context,
                             RewritePlan& plan, bool changes);

// The changes of a previewed file found again, each with its line before and after, and the
// digest of the bytes they were found in: the file at `path` (its real path) when it is still as
// `seen`; otherwise an error with kChangedSincePreview. The file is read whole: one larger than
// the pattern's LongestMatch is not, and the error is EFBIG. The text is decoded as the preview
// decoded it: from the legacy encoding `legacy`, or none when empty (RewritePlan::legacy).
Status PreviewChanges(const std::string& path, const FileIdentity& seen, const ChangeFinder& finder,
                      const std::string& legacy, RewritePlan& plan);

// Opens a previewed file again to stream its changes: the file at `path` (its real path) when it
// is still as `seen`; otherwise an error with kChangedSincePreview.
Status OpenPreviewed(const std::string& path, const FileIdentity& seen, Fd& file);

// The changes that `finder` finds in the open `file`, told to `listener` with the text around them
// as the file is read a block at a time. A UTF-8 mark is told as text kept; a text decoded from
// UTF-16, or from the legacy encoding `legacy` (empty: none), is told as UTF-8.
Status StreamChanges(int file, const ChangeFinder& finder, ChangeListener& listener,
                     const std::string& legacy = {});

// PrepareRewrite for changes chosen from a preview: `chosen` (in order, of the text as decoded)
// made to the file at `place` when its bytes are still those of `digest`; or, when null, every
// change `finder` finds when the file is still as `seen`. Otherwise the file is left alone with
// kChangedSincePreview.
RewriteResult PrepareChosenRewrite(const FilePlace& place, std::uint64_t digest,
                                   const FileIdentity& seen, const std::vector<TextEdit>* chosen,
                                   const ChangeFinder& finder, const DetailsSink& details,
                                   PreparedRewrite& rewrite, FileHits* hits = nullptr,
                                   int context = 0);

// Opens the file at `path` for a rewrite worked out elsewhere (by an office handler): when it
// may be rewritten under the rules of PrepareRewrite (beneath `beneath`, when given), `rewrite`
// is ready but for its content, and `original` holds the file's bytes as read. Returns why not,
// or an empty text.
std::string OpenForRewrite(const std::string& path, PreparedRewrite& rewrite, std::string& original,
                           const StartFolder* beneath = nullptr);

// Replaces every match of `pattern` in the file at `path` with `replacement` (its "$"
// sequences expanded). A file without matches is not opened for writing. Otherwise the new
// content goes to a new file in the same folder, which takes over the old one's permissions,
// owner, group and extended attributes (ACLs included) and replaces it in one rename; a link is
// followed and kept. The file is left exactly as it was, and the count is kNotSearched, when it
// cannot be read, is read-only, belongs to someone whose ownership we cannot keep, changed
// while it was being rewritten, or when any step of the rewrite fails.
// A `shortcut` skips the pattern on a file without its required text. `before_swap` runs just
// before the rename (for tests).
RewriteResult ReplaceFilePattern(const FilePlace& place, const RegExp& pattern,
                                 std::string_view replacement,
                                 const PatternShortcut* shortcut = nullptr,
                                 const DetailsSink& details = {},
                                 const std::function<void()>& before_swap = {});

// Where the last rewritten content is kept: "~~temprpl.frr" in the data folder.
std::string LastRewritePath();
// Replaces that file's content with `content`, in one step and without following a link.
[[nodiscard]] Status KeepLastRewrite(std::string_view content);
// The same with the bytes of the open file `file` (its holes kept).
[[nodiscard]] Status KeepLastRewriteOf(int file);

}  // namespace ferret
