#include "engine/file_finder.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "engine/content_search.h"
#include "engine/file_details.h"
#include "engine/ignore_rules.h"
#include "engine/mask_match.h"
#include "engine/office_files.h"
#include "office/office_handlers.h"
#include "util/app_locale.h"
#include "util/archive_reader.h"
#include "util/file_handle.h"
#include "util/own_folder.h"
#include "util/text_fold.h"

namespace ferret {

bool PassesDateTest(std::int32_t date_type, DateTime from, DateTime to, std::int32_t file_date_type,
                    const FileTimes& times, DateTime today) {
    switch (date_type) {
        case kDateAny:
            return true;
        case kDateWithinWeek:
            return SundaysBetween(times.modified, today) <= 1;
        case kDateWithinMonth:
            return MonthsBetween(times.modified, today) <= 1;
        case kDateWithinYear:
            return YearsBetween(times.modified, today) <= 1;
        case kDateBetween: {
            const DateTime when = file_date_type == kFileDateAccessed  ? times.accessed
                                  : file_date_type == kFileDateCreated ? times.created
                                                                       : times.modified;
            return from <= when && when <= to;
        }
        default:
            return false;
    }
}

namespace {

struct Entry {
    std::uint32_t name_offset;  // into the folder's name arena, NUL-terminated there
    std::uint32_t name_length;
    std::uint32_t key_offset;  // the case-folded name, for ordering
    std::uint32_t key_length;
    unsigned char type;  // DT_* from the directory
};

// Appends the case-folded form of `name` to `arena`.
void AppendFoldedName(std::string_view name, std::string& arena) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            arena += FoldCase(name);
            return;
        }
    }
    for (const char c : name) {
        arena.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c);
    }
}

// Reads a whole folder: the order is by name, not the file system's. The entries are read
// straight from the folder's descriptor, which the caller keeps for lookups relative to it.
bool ReadEntries(int dir_fd, std::string& arena, std::vector<Entry>& entries) {
    alignas(dirent64) char block[32 * 1024];
    for (;;) {
        const long got = syscall(SYS_getdents64, dir_fd, block, sizeof block);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        for (long at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(block + at);
            at += entry->d_reclen;
            const std::string_view name(entry->d_name);
            Entry& added = entries.emplace_back();
            added.type = entry->d_type;
            added.name_offset = static_cast<std::uint32_t>(arena.size());
            added.name_length = static_cast<std::uint32_t>(name.size());
            arena.append(name);
            arena.push_back('\0');
            added.key_offset = static_cast<std::uint32_t>(arena.size());
            AppendFoldedName(name, arena);
            added.key_length = static_cast<std::uint32_t>(arena.size() - added.key_offset);
        }
    }
    const auto name_of = [&arena](const Entry& e) {
        return std::string_view(arena.data() + e.name_offset, e.name_length);
    };
    const auto key_of = [&arena](const Entry& e) {
        return std::string_view(arena.data() + e.key_offset, e.key_length);
    };
    // Letters compared without regard to case, ties broken by bytes, so the order is total and
    // the same on every run.
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        const int by_key = key_of(a).compare(key_of(b));
        return by_key != 0 ? by_key < 0 : name_of(a) < name_of(b);
    });
    return true;
}

struct Settings {
    NameMask mask;
    std::int32_t search_type;
    bool recursive;
    std::int32_t date_type;
    DateTime date_from;
    DateTime date_to;
    std::int32_t file_date_type;
    double size_limit;
    bool at_least;
    DateTime today;
    std::optional<FolderId> excluded;
    bool own_links_only;
    std::optional<NameMask> skip_folders;  // none: every folder is entered
    bool ignore_files;
    bool skip_binary;
    std::string office_handlers;  // kept although binary (SetSkipBinary)
    bool archives_listed;         // SetArchivesListed

    // Without date and size filters the walk need not read any file's details.
    bool NeedsDetails() const { return date_type != kDateAny || size_limit != -1; }
};

// The identity of a folder on the way down from the root; each folder's node points to its
// parent's, so a link back to a folder above is recognised, and its place among its parent's
// items gives its place in the walk's order.
struct Ancestor {
    dev_t device;
    ino_t inode;
    const Ancestor* parent;
    std::size_t index;  // among the parent's items
};

// True when the folder at `index` under `a_parent` comes before the one at `b_index` under
// `b_parent` in the walk's order (depth first, items in order).
bool EarlierInWalk(const Ancestor* a_parent, std::size_t a_index, const Ancestor* b_parent,
                   std::size_t b_index) {
    const auto places = [](const Ancestor* parent, std::size_t index) {
        std::vector<std::size_t> path{index};
        for (const Ancestor* up = parent; up != nullptr && up->parent != nullptr; up = up->parent) {
            path.push_back(up->index);
        }
        return std::vector<std::size_t>(path.rbegin(), path.rend());
    };
    return places(a_parent, a_index) < places(b_parent, b_index);
}

// What one folder contributes, in order: files and, in their place, the results of subfolders.
struct FolderResult {
    struct Item {
        std::unique_ptr<FileRecord> file;
        std::unique_ptr<FolderResult> folder;
    };
    std::vector<Item> items;
    Ancestor self{};
    std::int32_t seen = 0;     // entries read
    std::int32_t matched = 0;  // names that passed the mask
    // Read by a visit that a visit earlier in the walk's order (through another link) took over.
    bool superseded = false;  // protected by the walker's mutex until the walk ends
    bool read = false;        // its items are final; protected by the walker's mutex
};

struct FolderTask {
    std::string path;  // ends in "/"
    const Ancestor* parent;
    std::size_t index;  // among the parent's items
    FolderResult* result;
    std::shared_ptr<const IgnoreScope> ignore;  // the parent's, when ignore files count
};

// Whether any of a folder's entries is named as `wanted` asks.
template <typename Wanted>
bool HoldsEntry(const std::string& arena, const std::vector<Entry>& entries, Wanted wanted) {
    return std::any_of(entries.begin(), entries.end(), [&](const Entry& entry) {
        return wanted(std::string_view(arena.data() + entry.name_offset, entry.name_length));
    });
}

// The last part of a folder path ending in "/".
std::string_view FolderName(std::string_view path) {
    path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The devices of the kernel's own file systems (processes, devices, kernel objects): walking
// them lists no user's files, and their links multiply paths without end.
std::set<dev_t> KernelFileSystems() {
    static const std::set<std::string> kTypes = {
        "proc",       "sysfs",  "devtmpfs", "debugfs",  "tracefs", "cgroup", "cgroup2",
        "securityfs", "pstore", "bpf",      "configfs", "devpts",  "mqueue", "binfmt_misc"};
    std::set<dev_t> devices;
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw": the type follows " - ".
        std::istringstream fields(line);
        std::string id, parent, numbers;
        fields >> id >> parent >> numbers;
        const std::size_t dash = line.find(" - ");
        const std::size_t colon = numbers.find(':');
        if (dash == std::string::npos || colon == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(dash + 3));
        std::string type;
        rest >> type;
        if (kTypes.count(type) != 0) {
            try {
                devices.insert(makedev(std::stoul(numbers.substr(0, colon)),
                                       std::stoul(numbers.substr(colon + 1))));
            } catch (const std::exception&) {
                // a line not in the expected form: not a kernel file system we know of
            }
        }
    }
    return devices;
}

// Folders are read by a small pool of threads, each folder on its own; the results are put
// together in walk order at the end, so the outcome is the same as a walk on one thread.
class Walker {
  public:
    Walker(const Settings& settings, const WalkControl& control, const WalkWatcher& watcher)
        : settings_(settings),
          control_(control),
          watcher_(watcher),
          kernel_devices_(KernelFileSystems()) {}

    // Walks from `start` (ending in "/") and adds what it finds to `files`. Returns false when
    // a worker failed (out of memory): `files` then holds what was put together.
    bool Run(const std::string& start, FileRecords& files) {
        FolderResult root;
        // However the walk ends, the watcher hears of it before the records it was told of and
        // that did not make the list are dropped with `root`.
        struct EndingGuard {
            Walker& walker;
            ~EndingGuard() { walker.TellEnding(); }
        } ending_guard{*this};
        pending_.push_back({start, nullptr, 0, &root, nullptr});
        ordered_.emplace_back(&root, 0);
        const unsigned helpers = std::min(3u, std::max(1u, std::thread::hardware_concurrency()));
        std::vector<std::thread> threads;
        for (unsigned i = 1; i < helpers; ++i) {
            threads.emplace_back([this] { Work(); });
        }
        Work();
        for (std::thread& thread : threads) {
            thread.join();
        }
        TellEnding();  // before the records are moved into the list
        Collect(root, files);
        return !failed_;
    }

    std::int32_t seen() const { return seen_; }
    std::int32_t matched() const { return matched_; }
    std::int32_t binary_left_out() const { return binary_left_out_.load(); }
    bool stopped() const { return stopped_; }
    // Time spent waiting while the walk was paused.
    std::chrono::steady_clock::duration paused() const { return paused_; }

  private:
    void Work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !pending_.empty() || busy_ == 0; });
            if (!pending_.empty() && WaitWhilePaused(lock)) {
                stopped_ = true;
                pending_.clear();  // what was read so far stays
            }
            if (pending_.empty()) {
                return;  // nothing queued and nobody left who could queue more
            }
            if (TakerBehind()) {
                wake_.wait_for(lock, std::chrono::milliseconds(2));
                continue;
            }
            auto chosen = pending_.end() - 1;
            if (ListedAhead()) {
                // Only the folder the order waits for is read: the taker can always go on.
                const FolderResult* waited = OrderWaitsFor();
                chosen = std::find_if(pending_.begin(), pending_.end(),
                                      [waited](const FolderTask& t) { return t.result == waited; });
                if (chosen == pending_.end()) {
                    wake_.wait_for(lock, std::chrono::milliseconds(2));
                    continue;
                }
            }
            FolderTask task = std::move(*chosen);
            pending_.erase(chosen);
            ++busy_;
            lock.unlock();
            std::vector<FolderTask> found;
            std::int32_t seen = 0;
            std::int32_t matched = 0;
            try {
                ReadFolder(task, found, seen, matched);
                TellListed(*task.result);
            } catch (const std::exception&) {
                failed_ = true;
                found.clear();
            }
            task.result->seen = seen;
            task.result->matched = matched;
            lock.lock();
            --busy_;
            task.result->read = true;
            listed_ += static_cast<std::size_t>(
                std::count_if(task.result->items.begin(), task.result->items.end(),
                              [](const FolderResult::Item& item) { return item.file != nullptr; }));
            TellOrdered();
            listed_at_most_ += matched;
            // Reversed so the first subfolder is taken next: the walk stays depth first and
            // holds few results at a time.
            for (auto it = found.rbegin(); it != found.rend(); ++it) {
                pending_.push_back(std::move(*it));
            }
            wake_.notify_all();
        }
    }

    // True when the walk is to stop. While it is paused, waits (the lock given up meanwhile).
    bool WaitWhilePaused(std::unique_lock<std::mutex>& lock) {
        const auto is = [](const std::atomic<bool>* flag) {
            return flag != nullptr && flag->load(std::memory_order_relaxed);
        };
        if (!is(control_.pause) || is(control_.stop)) {
            return is(control_.stop);
        }
        const auto began = std::chrono::steady_clock::now();
        lock.unlock();
        while (is(control_.pause) && !is(control_.stop)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        lock.lock();
        paused_ += std::chrono::steady_clock::now() - began;
        return is(control_.stop);
    }

    // Claims the folder `self` for this visit. False when a visit earlier in the walk's order
    // has it; a later one that had it is superseded, its results dropped when they are put
    // together.
    bool Claim(const FolderTask& task, const struct stat& self) {
        std::lock_guard lock(mutex_);
        auto [claim, added] = claims_.try_emplace({self.st_dev, self.st_ino}, task.result);
        if (added) {
            return true;
        }
        const Ancestor& holder = claim->second->self;
        if (!EarlierInWalk(task.parent, task.index, holder.parent, holder.index)) {
            return false;
        }
        claim->second->superseded = true;
        claim->second = task.result;
        return true;
    }

    // Whether the walk enters the folder of `task`, open as `dir`: not gone, not one it is
    // already inside or has entered by another way, not excluded.
    bool Enter(const FolderTask& task, int dir) {
        struct stat self {};
        if (dir < 0 || fstat(dir, &self) != 0) {
            // Gone since its parent was read is no loss; one that cannot be read is told.
            if (errno != ENOENT && errno != ENOTDIR) {
                TellNotListed(task.path, errno);
            }
            return false;
        }
        for (const Ancestor* up = task.parent; up != nullptr; up = up->parent) {
            if (up->device == self.st_dev && up->inode == self.st_ino) {
                return false;  // a link back to a folder we are already inside
            }
        }
        if (task.parent != nullptr && self.st_dev != root_device_ &&
            kernel_devices_.count(self.st_dev) != 0) {
            return false;  // the kernel's own file systems, unless the walk starts inside one
        }
        if (task.parent == nullptr) {
            root_device_ = self.st_dev;  // read before any other folder is queued
        }
        if (settings_.excluded && settings_.excluded->device == self.st_dev &&
            settings_.excluded->inode == self.st_ino) {
            return false;  // however a link leads there
        }
        task.result->self = {self.st_dev, self.st_ino, task.parent, task.index};
        return Claim(task, self);  // entered once, wherever links lead to it from
    }

    void ReadFolder(const FolderTask& task, std::vector<FolderTask>& found, std::int32_t& seen,
                    std::int32_t& matched) {
        // Deep folders' paths may pass PATH_MAX; OpenPath still reaches them.
        const Fd dir(OpenPath(task.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!Enter(task, dir.get())) {
            return;
        }
        std::string arena;
        std::vector<Entry> entries;
        if (!ReadEntries(dir.get(), arena, entries)) {
            // A folder removed while it is read ends with ENOENT: as above, no loss.
            if (errno != ENOENT) {
                TellNotListed(task.path, errno);
            }
            return;
        }
        std::shared_ptr<const IgnoreScope> ignore;
        if (settings_.ignore_files) {
            ignore = task.parent == nullptr
                         ? IgnoreScope::ForStart(task.path)
                         : task.ignore->Enter(
                               FolderName(task.path), dir.get(),
                               HoldsEntry(arena, entries,
                                          [](std::string_view name) { return name == ".git"; }),
                               HoldsEntry(arena, entries, &IgnoreScope::IsRulesFile));
        }
        std::shared_ptr<const std::string> root;  // shared by this folder's records
        task.result->items.reserve(entries.size());
        for (const Entry& entry : entries) {
            ++seen;
            const std::string_view name(arena.data() + entry.name_offset, entry.name_length);
            const char* c_name = arena.data() + entry.name_offset;
            FileDetails details;
            bool have_details = false;
            unsigned char type = entry.type;
            if (type == DT_UNKNOWN || type == DT_LNK) {
                // Links count as what they point to; a dangling link is neither.
                if (!ReadFileDetails(dir.get(), c_name, details)) {
                    continue;
                }
                have_details = true;
                if (settings_.own_links_only && !OwnLink(dir.get(), c_name, details)) {
                    TellNotListed(task.path + std::string(name),
                                  "it is a link that belongs to another user; it was not "
                                  "followed");
                    continue;
                }
                type = details.is_folder ? DT_DIR : details.is_regular ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                if (name.front() != '.' && settings_.recursive &&
                    !(settings_.skip_folders && settings_.skip_folders->Matches(name)) &&
                    !(ignore && ignore->Ignored(name, true))) {
                    const std::size_t index = task.result->items.size();
                    auto& item = task.result->items.emplace_back();
                    item.folder = std::make_unique<FolderResult>();
                    std::string path = task.path;
                    path.append(name).push_back('/');
                    found.push_back(
                        {std::move(path), &task.result->self, index, item.folder.get(), ignore});
                }
                continue;
            }
            if (type != DT_REG) {
                continue;  // FIFOs, sockets and devices: opening them could block or harm
            }
            if (ignore && ignore->Ignored(name, false)) {
                continue;
            }
            if (static_cast<std::int32_t>(settings_.mask.Matches(name)) != settings_.search_type &&
                !(settings_.archives_listed && LooksLikeArchive(name))) {
                continue;
            }
            ++matched;
            AddFile(task, dir.get(), name, c_name, have_details ? &details : nullptr, root);
        }
    }

    // Lists the regular file `name` of the folder of `task` (open as `dir`) when it passes the
    // filters; `details`, when already read. `root`: the folder's path, made for its first file.
    void AddFile(const FolderTask& task, int dir, std::string_view name, const char* c_name,
                 const FileDetails* details, std::shared_ptr<const std::string>& root) {
        if (!root) {
            root = std::make_shared<const std::string>(task.path);
        }
        auto record = std::make_unique<FileRecord>();
        record->SetFilename(std::string(name));
        record->SetRootPath(root);
        if (!settings_.NeedsDetails()) {
            if (details != nullptr) {
                record->SetDetails(details->size, LocalDateTimeFromFileTime(details->created));
            } else {
                record->SetDetailsPending();
            }
        } else {
            FileDetails read;
            if (details == nullptr) {
                if (!ReadFileDetails(dir, c_name, read)) {
                    return;  // gone since the folder was read, or out of reach
                }
                details = &read;
            }
            if (!PassesFilters(*details, settings_.archives_listed && LooksLikeArchive(name))) {
                return;
            }
            record->SetDetails(details->size, LocalDateTimeFromFileTime(details->created));
        }
        std::string head;
        if (settings_.skip_binary && FileLooksBinary(dir, c_name, &head) &&
            !(!settings_.office_handlers.empty() &&
              UseSpecialFileHandler(c_name, settings_.office_handlers) &&
              LooksLikeOfficeHead(head))) {
            binary_left_out_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        task.result->items.emplace_back().file = std::move(record);
    }

    void TellNotListed(const std::string& path, int error) const {
        TellNotListed(path, std::string("the folder cannot be read (") + strerror(error) + ")");
    }
    void TellNotListed(const std::string& path, const std::string& reason) const {
        if (watcher_.not_listed) {
            watcher_.not_listed(path, reason);
        }
    }

    // As the kernel's protected_symlinks in shared folders: a link is followed only when it is
    // ours or belongs to the owner of what it points to (`target`). Anything but a link passes.
    static bool OwnLink(int dir, const char* name, const FileDetails& target) {
        struct stat link {};
        if (fstatat(dir, name, &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode)) {
            return true;
        }
        return MayFollowLink(link.st_uid, target.owner);
    }

    void TellEnding() {
        if (!ended_ && watcher_.ending) {
            ended_ = true;
            watcher_.ending();
        }
    }

    // Tells the files whose place in the final list is settled: those before the first folder
    // not yet read. A folder the cursor reaches has nothing unread before it, so no visit
    // earlier in the walk's order can still take it over. Under mutex_, so parts come in order.
    void TellOrdered() {
        if (!watcher_.ordered) {
            return;
        }
        std::vector<std::unique_ptr<FileRecord>> records;
        while (!ordered_.empty()) {
            auto& [folder, next] = ordered_.back();
            if (!folder->read) {
                break;
            }
            if (next == folder->items.size()) {
                // Its files are handed over: only its folders stay, which links may still be
                // compared with (their own places in the walk do not change).
                auto& items = folder->items;
                items.erase(std::remove_if(items.begin(), items.end(),
                                           [](const FolderResult::Item& i) { return !i.folder; }),
                            items.end());
                items.shrink_to_fit();
                ordered_.pop_back();
                continue;
            }
            FolderResult::Item& item = folder->items[next];
            if (item.file) {
                records.push_back(std::move(item.file));
            } else if (item.folder && !item.folder->read) {
                break;
            } else if (item.folder && !item.folder->superseded) {
                ++next;
                ordered_.emplace_back(item.folder.get(), 0);
                continue;
            }
            ++next;
        }
        if (!records.empty()) {
            told_ += records.size();
            watcher_.ordered(records);
        }
    }

    // The folder the order waits for, if any: the first one not read yet.
    const FolderResult* OrderWaitsFor() const {
        if (ordered_.empty()) {
            return nullptr;
        }
        const auto& [folder, next] = ordered_.back();
        if (!folder->read) {
            return folder;
        }
        return next < folder->items.size() ? folder->items[next].folder.get() : nullptr;
    }

    // Whether the taker has as many records told and not taken as it lets the walk keep
    // (WalkControl::taken): the walk then waits for it.
    bool TakerBehind() const {
        return Paced() && told_ > control_.taken->load(std::memory_order_acquire) + control_.ahead;
    }
    // Whether as many records are listed and not told: only the folder the order waits for may
    // be read then.
    bool ListedAhead() const { return Paced() && listed_ > told_ + control_.ahead; }
    // Only records handed over in order are taken: without them the walk would wait for good.
    bool Paced() const { return control_.taken != nullptr && watcher_.ordered; }

    void TellListed(const FolderResult& folder) const {
        if (!watcher_.listed) {
            return;
        }
        std::vector<FileRecord*> records;
        for (const FolderResult::Item& item : folder.items) {
            if (item.file) {
                records.push_back(item.file.get());
            }
        }
        if (!records.empty()) {
            watcher_.listed(records);
        }
    }

    // `archive`: one whose entries the size filter applies to instead.
    bool PassesFilters(const FileDetails& details, bool archive) const {
        if (settings_.size_limit != -1 && !archive) {
            const double bytes = static_cast<double>(details.size);
            if (settings_.at_least ? bytes < settings_.size_limit : bytes > settings_.size_limit) {
                return false;
            }
        }
        if (settings_.date_type == kDateAny) {
            return true;
        }
        const FileTimes times{LocalDateTimeFromFileTime(details.modified),
                              LocalDateTimeFromFileTime(details.accessed),
                              LocalDateTimeFromFileTime(details.created)};
        return PassesDateTest(settings_.date_type, settings_.date_from, settings_.date_to,
                              settings_.file_date_type, times, settings_.today);
    }

    // Adds the records depth first, subfolders in their place, and counts what the folders that
    // stay saw (a superseded visit's folders are left out); no recursion, so a tree of any depth
    // is safe.
    void Collect(FolderResult& root, FileRecords& files) {
        files.Reserve(static_cast<std::size_t>(listed_at_most_));
        std::vector<std::pair<FolderResult*, std::size_t>> stack{{&root, 0}};
        seen_ = root.seen;
        matched_ = root.matched;
        while (!stack.empty()) {
            auto& [folder, next] = stack.back();
            if (next == folder->items.size()) {
                stack.pop_back();
                continue;
            }
            FolderResult::Item& item = folder->items[next++];
            if (item.file) {
                files.AddUnique(std::move(item.file));
            } else if (item.folder && !item.folder->superseded) {
                seen_ += item.folder->seen;
                matched_ += item.folder->matched;
                stack.emplace_back(item.folder.get(), 0);
            }
        }
    }

    const Settings& settings_;
    const WalkControl control_;
    const WalkWatcher& watcher_;
    const std::set<dev_t> kernel_devices_;
    dev_t root_device_ = 0;
    std::mutex mutex_;
    std::map<std::pair<dev_t, ino_t>, FolderResult*> claims_;  // protected by mutex_
    bool stopped_ = false;                                     // protected by mutex_
    std::chrono::steady_clock::duration paused_{};             // protected by mutex_
    std::condition_variable wake_;
    std::vector<FolderTask> pending_;  // protected by mutex_
    int busy_ = 0;                     // protected by mutex_
    std::int32_t listed_at_most_ = 0;  // protected by mutex_
    // Where the files told as ordered end: the folders entered, each with its next item.
    std::vector<std::pair<FolderResult*, std::size_t>> ordered_;  // protected by mutex_
    std::size_t listed_ = 0;  // records of folders read; protected by mutex_
    std::size_t told_ = 0;    // records handed over as ordered; protected by mutex_
    std::int32_t seen_ = 0;   // of the walk once it is put together
    std::int32_t matched_ = 0;
    std::atomic<bool> failed_{false};
    std::atomic<std::int32_t> binary_left_out_{0};
    bool ended_ = false;  // the watcher was told the walk ended
};

}  // namespace

FileFinder::FileFinder() : files_(std::make_unique<FileRecords>()) {}

FileFinder::~FileFinder() = default;

FileRecords& FileFinder::Files() {
    if (!files_) {
        files_ = std::make_unique<FileRecords>();
        files_->SetParent(this);
    }
    return *files_;
}

std::unique_ptr<FileRecords> FileFinder::TakeFiles() {
    Files();
    return std::move(files_);
}

void FileFinder::SetStartDirectory(std::string folder) {
    if (folder.empty() || folder.back() != '/') {
        folder.push_back('/');
    }
    start_directory_ = std::move(folder);
}

void FileFinder::PerformSearch() {
    stopped_ = false;
    try {
        const Settings settings{
            NameMask(filter_mask_),
            search_type_,
            recursive_,
            date_type_,
            date_from_,
            date_to_,
            file_date_type_,
            file_size_limit_,
            greater_than_size_,
            CurrentLocalDateTime(),
            excluded_,
            own_links_only_,
            skip_folders_.empty() ? std::nullopt : std::optional<NameMask>(skip_folders_),
            ignore_files_,
            skip_binary_,
            office_handlers_,
            archives_listed_};
        const std::string start = start_directory_;
        const auto began = std::chrono::steady_clock::now();
        Walker walker(settings, control_, watcher_);
        if (!walker.Run(start, Files())) {
            return Completed();
        }
        const double elapsed_ms = std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - began - walker.paused())
                                      .count();
        stopped_ = walker.stopped();
        searched_ = walker.seen();
        matched_ = walker.matched();
        binary_left_out_ = walker.binary_left_out();
        search_time_ = FormatNumber(elapsed_ms / 1000.0, 2, true) + "  seconds";
    } catch (const std::exception&) {
        // Out of memory and the like: keep what was found, report the earlier counts.
    }
    Completed();
}

void FileFinder::Completed() {
    if (SearchCompleted) {
        SearchCompleted();
    }
}

}  // namespace ferret
