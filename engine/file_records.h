#pragma once

#include <time.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/date_time.h"
#include "office/spreadsheet_hits.h"

namespace ferret {

class FileFinder;

// Where a record is when it is inside another file, an entry of an archive: never a file on
// disk of its own, so nothing opens, writes or acts on it by its path.
struct InsideFile {
    std::string container;           // the archive's full path on disk
    std::vector<std::string> names;  // inside it, outermost first, as the archive holds them

    // Whether a name inside is absolute or holds a ".." part: its path would read as another
    // file's were its "//" lost, so outputs quote it.
    bool Strays() const;
};

// One file of a run: made by the walk, given its hit count by the content stage and its type by
// the reports. Not thread-safe, reading included (details may load on first read); different
// records may be used from different threads.
class FileRecord {
  public:
    // Reading attaches an empty collection when none is attached yet.
    SpreadsheetHits& SheetHits();
    bool HasSheetHits() const { return sheet_hits_ != nullptr; }
    void SetSheetHits(std::unique_ptr<SpreadsheetHits> results);

    // Hits: 0 before the content stage and without hits, -1 when the file could not be searched.
    std::int32_t ItemsFound() const { return items_found_; }
    void SetItemsFound(std::int32_t count) { items_found_ = count; }

    const std::string& Filetype() const { return filetype_; }
    void SetFiletype(std::string type) { filetype_ = std::move(type); }

    // The walk's size text, as "1.00 KB". The walk may leave the size and the creation time
    // to be read from the file system when first asked for (see SetDetailsPending); a file
    // that cannot be reached then has an empty size and the zero date.
    const std::string& Size() const;
    void SetSize(std::string size) { size_ = std::move(size); }

    const std::string& Filename() const { return filename_; }
    void SetFilename(std::string name) { filename_ = std::move(name); }

    // The file's folder, always ending in "/". Records of one folder share the text.
    const std::string& RootPath() const { return *root_path_; }
    void SetRootPath(std::string path);
    void SetRootPath(std::shared_ptr<const std::string> path) { root_path_ = std::move(path); }
    const std::shared_ptr<const std::string>& SharedRootPath() const { return root_path_; }

    DateTime CreationTime() const;
    void SetCreationTime(DateTime when) { creation_time_ = when; }
    DateTime AccessTime() const { return access_time_; }
    void SetAccessTime(DateTime when) { access_time_ = when; }
    DateTime ModifiedTime() const { return modified_time_; }
    void SetModifiedTime(DateTime when) { modified_time_ = when; }

    // RootPath (with a "/" added when missing) followed by Filename: the record's key. For a
    // file inside an archive, the archive's path, "//" and the names inside, as
    // "/site/old.zip//docs/index.html".
    std::string FullPath() const;

    // Null for a file on disk.
    const InsideFile* Inside() const { return inside_.get(); }
    // Makes the record that of a file inside an archive: its root and name from `inside`.
    void SetInside(std::shared_ptr<const InsideFile> inside);

    // The walk found the file without reading its size and times: they are read on first use,
    // or given by a stage that has the file open (SetDetails), which saves a lookup by path.
    void SetDetailsPending() { details_pending_ = true; }
    bool DetailsPending() const { return details_pending_; }
    // Size text and creation time from a file's details.
    void SetDetails(std::uint64_t size_bytes, DateTime created);
    // The same as the file system gives them; they become a text and a local date when first
    // asked for, so a run that never shows them does not pay for that.
    void SetRawDetails(std::uint64_t size_bytes, const timespec& created);

  private:
    friend class FileRecords;

    std::unique_ptr<SpreadsheetHits> sheet_hits_;
    std::shared_ptr<const InsideFile> inside_;
    std::int32_t items_found_ = 0;
    std::string filetype_;
    mutable std::string size_;
    std::string filename_;
    std::shared_ptr<const std::string> root_path_ = EmptyRoot();
    mutable DateTime creation_time_ = 0;
    mutable bool details_pending_ = false;
    mutable bool raw_held_ = false;  // raw_size_ and raw_created_ wait to be made into text
    std::uint64_t raw_size_ = 0;
    timespec raw_created_{};
    DateTime access_time_ = 0;
    DateTime modified_time_ = 0;
    // Position in the owning collection when its key index was last built: ties between keys
    // that differ only in case go to the earliest.
    mutable std::uint64_t order_ = 0;

    static const std::shared_ptr<const std::string>& EmptyRoot();
    void LoadDetails() const;
};

// The records of one run in the order they were added, each under its full path as key. Keys
// compare without regard to case: Item("/Docs/A.TXT") finds "/docs/a.txt". Linux folders may
// hold names that differ only in case, so both are kept; Item prefers the exact spelling and
// otherwise returns the earliest record whose key differs only in case. Only an exact repeat of
// a full path is refused. Lookups by key and position take constant time. A record's key is
// fixed when it is added: do not rename a record while it is in a collection. Not thread-safe.
class FileRecords {
  public:
    FileRecords() = default;
    FileRecords(const FileRecords&) = delete;
    FileRecords& operator=(const FileRecords&) = delete;

    // Adds a record; `key` is accepted and ignored (the key is always the full path). Returns
    // nullptr, adding nothing, when a record with exactly this full path exists.
    FileRecord* Add(std::string_view file_name, std::string_view root_path, std::string size,
                    DateTime creation, std::string_view key = {});
    // Adds a ready-made record; nullptr (and the record is dropped) for an exact repeat.
    FileRecord* Add(std::unique_ptr<FileRecord> record);
    // The walk's form: it never lists a path twice, so the check is skipped and the key index
    // is built only when a lookup by key first needs it.
    void AddUnique(std::unique_ptr<FileRecord> record);
    // Room for `count` more records.
    void Reserve(std::size_t count);

    // By 1-based position or by key; nullptr when there is no such record.
    FileRecord* Item(std::int32_t position) const;
    FileRecord* Item(std::string_view key) const;

    std::int32_t Count() const { return static_cast<std::int32_t>(records_.size()); }
    // Every file the collection was made for: those held and those let go.
    std::int32_t Total() const { return Count() + let_go_; }

    // Moves every record of `other` to the end of this one.
    void Append(FileRecords& other);
    // Moves each record of `inner` to just after the record paired with it (the archive it is
    // in), keeping their order; those whose archive is not here go to the end.
    void PlaceAfter(std::vector<std::pair<const FileRecord*, std::unique_ptr<FileRecord>>>& inner);
    // Lets go of the records `drop` picks, counting them in Total(); `count` more were let go
    // before they were added.
    void LetGo(const std::function<bool(const FileRecord&)>& drop);
    void CountLetGo(std::int32_t count) { let_go_ += count; }

    // The finder that made this collection; not owned, valid only while that finder exists.
    FileFinder* Parent() const { return parent_; }
    void SetParent(FileFinder* finder) { parent_ = finder; }

    class Iterator {
      public:
        using Inner = std::vector<std::unique_ptr<FileRecord>>::const_iterator;
        explicit Iterator(Inner inner) : inner_(inner) {}
        FileRecord& operator*() const { return **inner_; }
        FileRecord* operator->() const { return inner_->get(); }
        Iterator& operator++() {
            ++inner_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return inner_ == other.inner_; }

      private:
        Inner inner_;
    };
    Iterator begin() const { return Iterator(records_.begin()); }
    Iterator end() const { return Iterator(records_.end()); }

  private:
    struct Slot {
        std::uint64_t hash = 0;
        FileRecord* record = nullptr;  // nullptr: empty slot
    };

    static std::uint64_t HashUpdate(std::uint64_t state, std::string_view text);
    static std::uint64_t RootHashState(const std::string& root);
    FileRecord* Insert(std::unique_ptr<FileRecord> record, std::uint64_t hash);
    void EnsureIndex() const;
    void Grow() const;     // doubles the index, reusing the stored hashes
    void Reindex() const;  // rebuilds the index from the records
    void PlaceInIndex(std::uint64_t hash, FileRecord* record) const;

    std::vector<std::unique_ptr<FileRecord>> records_;
    // Open addressing on the hash of the case-folded key; equal keys are confirmed by comparing
    // the texts, so folded keys are never stored. At most half full.
    // Built on demand (mutable for lookups); covers records_ up to indexed_count_.
    mutable std::vector<Slot> index_;
    mutable std::size_t indexed_count_ = 0;
    FileFinder* parent_ = nullptr;
    std::int32_t let_go_ = 0;
};

}  // namespace ferret
