#include "engine/rewrite_batch.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "engine/content_search.h"

namespace ferret {

RewriteBatch::RewriteBatch(RestorePoint* restore,
                           std::function<void(const SwitchMoment&)> before_switch)
    : restore_(restore),
      before_switch_(std::move(before_switch)),
      flush_(restore != nullptr ? restore->Flush() : DiskFlush()) {}

RewriteBatch::~RewriteBatch() {
    Abandon();
}

void RewriteBatch::Add(std::unique_ptr<Item> item) {
    bytes_ += item->rewrite.content.size();
    items_.push_back(std::move(item));
}

void RewriteBatch::Abandon() {
    for (const std::unique_ptr<Item>& item : items_) {
        DropNewFile(item->rewrite);
        if (restore_ != nullptr) {
            restore_->Drop(item->kept);
        }
    }
    items_.clear();
    bytes_ = 0;
}

bool RewriteBatch::Sync(int fd) const {
    // syncfs flushes a whole file system at once: one wait for the disk instead of one a file.
    return flush_.file_system(fd) == 0;
}

std::vector<RewriteBatch::Outcome> RewriteBatch::Commit() {
    std::vector<std::unique_ptr<Item>> items = std::move(items_);
    items_.clear();
    bytes_ = 0;
    std::vector<Outcome> outcomes(items.size());
    std::vector<bool> alive(items.size(), true);
    bool journaled = false;  // the journal holds the batch's lines
    const auto fail = [&](std::size_t i, std::string why) {
        outcomes[i].count = kNotSearched;
        outcomes[i].error = std::move(why);
        alive[i] = false;
        DropNewFile(items[i]->rewrite);
        if (restore_ != nullptr) {
            if (journaled) {
                restore_->Forget(items[i]->kept);
            } else {
                restore_->Drop(items[i]->kept);
            }
        }
    };
    for (std::size_t i = 0; i < items.size(); ++i) {
        outcomes[i].index = items[i]->index;
        outcomes[i].count = items[i]->count;
        PreparedRewrite& rewrite = items[i]->rewrite;
        rewrite.temporary = NewTemporaryName(rewrite.folder, rewrite.name);
    }
    // The new files' names reach the journal before the files exist, so a later run can
    // clear what a killed one left.
    if (restore_ != nullptr && !items.empty()) {
        std::vector<std::string> lines;
        lines.reserve(items.size());
        for (const std::unique_ptr<Item>& item : items) {
            lines.push_back(item->kept.line + "\t" + item->rewrite.temporary);
        }
        // Kept originals first: a journal line on disk must never name a copy that is not.
        Status status;
        if (!Sync(restore_->FileSystem())) {
            status = Status::Error(
                errno, std::string("cannot flush the kept originals to disk: ") + strerror(errno));
        } else {
            status = restore_->Record(lines);
        }
        journaled = status.ok();
        if (!status.ok()) {
            for (std::size_t i = 0; i < items.size(); ++i) {
                fail(i, "no restore copy could be kept, so the file was left as it is: " +
                            status.description());
            }
        }
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!alive[i]) {
            continue;
        }
        if (std::string error = MakeNewFile(items[i]->rewrite, nullptr); !error.empty()) {
            fail(i, std::move(error));
        }
    }
    // One flush per file system for all the new files; a descriptor on each is kept for the
    // flush of the switched names at the end.
    std::set<dev_t> flushed;
    std::set<dev_t> unflushed;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!alive[i]) {
            continue;
        }
        const int output = items[i]->rewrite.output.get();
        const dev_t device = items[i]->rewrite.before.st_dev;
        if (flushed.insert(device).second) {
            if (!Sync(output)) {
                unflushed.insert(device);
            } else if (switched_on_.count(device) == 0) {
                switched_on_[device].Reset(fcntl(output, F_DUPFD_CLOEXEC, 0));
            }
        }
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (alive[i] && unflushed.count(items[i]->rewrite.before.st_dev) != 0) {
            fail(i, "the new content could not be flushed to disk; the file was left as it is");
        }
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!alive[i]) {
            continue;
        }
        PreparedRewrite& rewrite = items[i]->rewrite;
        if (before_switch_) {
            before_switch_({rewrite.target, restore_ != nullptr ? restore_->Folder() : "",
                            items[i]->kept.number, rewrite.temporary});
        }
        if (std::string error = SwitchIn(rewrite); !error.empty()) {
            fail(i, std::move(error));
            continue;
        }
        outcomes[i].rewritten = true;
        outcomes[i].names = rewrite.before.st_nlink;
        outcomes[i].new_content = std::move(rewrite.content);
    }
    return outcomes;
}

Status RewriteBatch::Finish() {
    for (auto& [device, fd] : switched_on_) {
        if (fd.get() >= 0 && !Sync(fd.get())) {
            return Status::Error(
                errno, std::string("cannot flush the rewritten files to disk: ") + strerror(errno));
        }
    }
    switched_on_.clear();
    if (restore_ != nullptr) {
        return restore_->End();
    }
    return {};
}

}  // namespace ferret
