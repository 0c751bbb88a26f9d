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

namespace {

// syncfs flushes a whole file system at once: one wait for the disk instead of one a file.
bool SyncFileSystem(const DiskFlush& flush, int fd) {
    return flush.file_system(fd) == 0;
}

// One commit of a batch, a step at a time over all its items. An item a step fails is out of
// the later steps, its new file and its kept original gone at once.
class CommitPass {
  public:
    CommitPass(std::vector<std::unique_ptr<RewriteBatch::Item>> items, RestorePoint* restore,
               const DiskFlush& flush)
        : items_(std::move(items)),
          restore_(restore),
          flush_(flush),
          outcomes_(items_.size()),
          alive_(items_.size(), true) {
        for (std::size_t i = 0; i < items_.size(); ++i) {
            outcomes_[i].index = items_[i]->index;
            outcomes_[i].count = items_[i]->count;
            PreparedRewrite& rewrite = items_[i]->rewrite;
            if (rewrite.temporary.empty()) {  // a new file written already may have its name
                rewrite.temporary = NewTemporaryName(rewrite.folder, rewrite.name);
            }
        }
    }

    // The new files' names reach the journal before the files exist, so a later run can
    // clear what a killed one left.
    void Journal() {
        if (restore_ == nullptr || items_.empty()) {
            return;
        }
        std::vector<std::string> lines;
        lines.reserve(items_.size());
        for (const std::unique_ptr<RewriteBatch::Item>& item : items_) {
            lines.push_back(item->kept.line + "\t" + item->rewrite.temporary);
        }
        // Kept originals first: a journal line on disk must never name a copy that is not.
        Status status;
        if (!SyncFileSystem(flush_, restore_->FileSystem())) {
            status = Status::Error(
                errno, std::string("cannot flush the kept originals to disk: ") + strerror(errno));
        } else {
            status = restore_->Record(lines);
        }
        journaled_ = status.ok();
        if (!status.ok()) {
            for (std::size_t i = 0; i < items_.size(); ++i) {
                Fail(i, "no restore copy could be kept, so the file was left as it is: " +
                            status.description());
            }
        }
    }

    void MakeFiles() {
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (!alive_[i]) {
                continue;
            }
            if (std::string error = MakeNewFile(items_[i]->rewrite, nullptr); !error.empty()) {
                Fail(i, std::move(error));
            }
        }
    }

    // One flush per file system for all the new files; a descriptor on each is kept in
    // `switched_on` for the flush of the switched names at the end.
    void FlushFiles(std::map<dev_t, Fd>& switched_on) {
        std::set<dev_t> flushed;
        std::set<dev_t> unflushed;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (!alive_[i]) {
                continue;
            }
            const int output = items_[i]->rewrite.output.get();
            const dev_t device = items_[i]->rewrite.before.st_dev;
            if (flushed.insert(device).second) {
                if (!SyncFileSystem(flush_, output)) {
                    unflushed.insert(device);
                } else if (switched_on.count(device) == 0) {
                    switched_on[device].Reset(fcntl(output, F_DUPFD_CLOEXEC, 0));
                }
            }
        }
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (alive_[i] && unflushed.count(items_[i]->rewrite.before.st_dev) != 0) {
                Fail(i, "the new content could not be flushed to disk; the file was left as it is");
            }
        }
    }

    void SwitchNames(const std::function<void(const SwitchMoment&)>& before_switch) {
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (!alive_[i]) {
                continue;
            }
            PreparedRewrite& rewrite = items_[i]->rewrite;
            if (before_switch) {
                before_switch({rewrite.target, restore_ != nullptr ? restore_->Folder() : "",
                               items_[i]->kept.number, rewrite.temporary});
            }
            Fd new_file(rewrite.written ? fcntl(rewrite.output.get(), F_DUPFD_CLOEXEC, 0) : -1);
            if (std::string error = SwitchIn(rewrite); !error.empty()) {
                Fail(i, std::move(error));
                continue;
            }
            outcomes_[i].rewritten = true;
            outcomes_[i].names = rewrite.before.st_nlink;
            outcomes_[i].new_content = std::move(rewrite.content);
            outcomes_[i].new_file = std::move(new_file);
        }
    }

    std::vector<RewriteBatch::Outcome> TakeOutcomes() { return std::move(outcomes_); }

  private:
    void Fail(std::size_t i, std::string why) {
        outcomes_[i].count = kNotSearched;
        outcomes_[i].error = std::move(why);
        alive_[i] = false;
        DropNewFile(items_[i]->rewrite);
        if (restore_ != nullptr) {
            if (journaled_) {
                restore_->Forget(items_[i]->kept);
            } else {
                restore_->Drop(items_[i]->kept);
            }
        }
    }

    std::vector<std::unique_ptr<RewriteBatch::Item>> items_;
    RestorePoint* const restore_;
    const DiskFlush& flush_;
    std::vector<RewriteBatch::Outcome> outcomes_;
    std::vector<bool> alive_;
    bool journaled_ = false;  // the journal holds the batch's lines
};

}  // namespace

bool RewriteBatch::Sync(int fd) const {
    return SyncFileSystem(flush_, fd);
}

std::vector<RewriteBatch::Outcome> RewriteBatch::Commit() {
    std::vector<std::unique_ptr<Item>> items = std::move(items_);
    items_.clear();
    bytes_ = 0;
    CommitPass pass(std::move(items), restore_, flush_);
    pass.Journal();
    pass.MakeFiles();
    pass.FlushFiles(switched_on_);
    pass.SwitchNames(before_switch_);
    return pass.TakeOutcomes();
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
