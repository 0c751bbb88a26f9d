#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/content_replace.h"
#include "engine/restore_point.h"
#include "util/file_handle.h"

namespace ferret {

// What a test sees just before a name is switched to its new content.
struct SwitchMoment {
    const std::string& target;         // the file about to be replaced
    const std::string& restore_point;  // its restore point's folder ("" without one)
    std::uint64_t entry = 0;           // its entry there
    const std::string& temporary;      // its new file's name beside it
};

// Rewrites made durable together instead of one flush per file: a batch's new files are made,
// then flushed with one syncfs per file system together with the kept originals, the journal
// lines that name them are flushed once, and only then is any name switched. A kill at any
// moment leaves every file old or new, and each new one undoable.
class RewriteBatch {
  public:
    struct Item {
        std::size_t index = 0;  // the file's place in the run's list
        std::int32_t count = 0;
        PreparedRewrite rewrite;
        RestorePoint::Kept kept;  // when the run keeps originals
    };
    struct Outcome {
        std::size_t index = 0;
        std::int32_t count = 0;  // kNotSearched when the file was left as it was
        std::string error;
        bool rewritten = false;
        nlink_t names = 1;  // the names the file had
        // When rewritten: its new bytes, or the new file that holds them when they were
        // written as the file was read.
        std::string new_content;
        Fd new_file;
    };

    // `restore` may be null (no way back is kept). Files are flushed as `restore` says
    // (RestorePoint::Flush), or with syncfs without one.
    RewriteBatch(RestorePoint* restore, std::function<void(const SwitchMoment&)> before_switch);
    ~RewriteBatch();
    RewriteBatch(const RewriteBatch&) = delete;
    RewriteBatch& operator=(const RewriteBatch&) = delete;

    void Add(std::unique_ptr<Item> item);
    std::size_t size() const { return items_.size(); }
    std::uint64_t bytes() const { return bytes_; }

    // Makes, flushes and switches in every item added since the last commit; the outcomes in
    // the order the items were added.
    std::vector<Outcome> Commit();
    // Gives up the items not committed: their files stay as they are and their kept originals
    // go.
    void Abandon();
    // Flushes the switched names of every commit to disk. The run is done only after this.
    Status Finish();

  private:
    bool Sync(int fd) const;

    RestorePoint* const restore_;
    const std::function<void(const SwitchMoment&)> before_switch_;
    const DiskFlush flush_;
    std::vector<std::unique_ptr<Item>> items_;
    std::uint64_t bytes_ = 0;
    // One open file on every file system a commit switched names on, for the last flush.
    std::map<dev_t, Fd> switched_on_;
};

}  // namespace ferret
