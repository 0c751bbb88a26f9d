#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ferret {

// The patterns of one ignore file in git's format (.gitignore, .ignore, info/exclude, the
// global excludes file), matched against paths relative to the folder the file applies to.
class IgnoreList {
  public:
    enum class Verdict { kNone, kIgnored, kKept };

    // Parses the text of an ignore file. `ignore_case`: letters compare without regard to case
    // (git's core.ignoreCase).
    IgnoreList(std::string_view text, bool ignore_case);
    ~IgnoreList();
    IgnoreList(IgnoreList&&) noexcept;
    IgnoreList& operator=(IgnoreList&&) noexcept;

    bool empty() const;
    // The verdict of the last pattern that matches `path`: relative to the list's folder,
    // "/"-separated, without a leading or trailing "/"; its last part is a folder when
    // `is_folder`. kNone when no pattern matches.
    Verdict Match(std::string_view path, bool is_folder) const;

  private:
    friend class IgnoreListAccess;  // the scopes' per-folder choice of patterns
    struct Pattern;
    std::unique_ptr<std::vector<Pattern>> patterns_;
    bool ignore_case_ = false;
};

// The ignore rules that hold for the entries of one folder of a walk. Inside a git repository
// (a folder holding ".git", the walk's start or one above it): the .gitignore files from the
// repository's top down to the folder, the repository's info/exclude and the user's global
// excludes file (core.excludesFile, by default $XDG_CONFIG_HOME/git/ignore), with git's
// precedence (a deeper file over a shallower one; within a file the last matching pattern). The
// .ignore files of the walk's folders hold everywhere, over the .gitignore of the same folder.
// A folder holding ".git" below the start begins a repository of its own. Immutable once made:
// scopes are shared between the walk's threads.
class IgnoreScope {
  public:
    virtual ~IgnoreScope() = default;

    // The scope of the walk's start folder `start` (ending in "/"): the repository it lies in
    // is found by looking up from its real path.
    static std::shared_ptr<const IgnoreScope> ForStart(const std::string& start);

    // The scope of the folder `name` beneath this scope's folder, open as `folder`: its own
    // ignore files are read from it (never through a link). `holds_git`: it holds ".git".
    // `holds_rules`: false when the walk has read the folder's names and none is an ignore
    // file (IsRulesFile); none is then looked for, which saves two look-ups per folder.
    virtual std::shared_ptr<const IgnoreScope> Enter(std::string_view name, int folder,
                                                     bool holds_git,
                                                     bool holds_rules = true) const = 0;

    // Whether a folder entry called `name` is an ignore file that Enter reads.
    static bool IsRulesFile(std::string_view name);

    // Whether the entry `name` of this scope's folder is left out.
    virtual bool Ignored(std::string_view name, bool is_folder) const = 0;
};

}  // namespace ferret
