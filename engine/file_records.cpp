#include "engine/file_records.h"

#include <fcntl.h>

#include <algorithm>
#include <unordered_map>

#include "engine/file_details.h"
#include "util/file_size_text.h"
#include "util/text_fold.h"

namespace ferret {

const std::shared_ptr<const std::string>& FileRecord::EmptyRoot() {
    static const std::shared_ptr<const std::string> empty = std::make_shared<std::string>();
    return empty;
}

SpreadsheetHits& FileRecord::SheetHits() {
    if (!sheet_hits_) {
        sheet_hits_ = std::make_unique<SpreadsheetHits>();
    }
    return *sheet_hits_;
}

void FileRecord::SetSheetHits(std::unique_ptr<SpreadsheetHits> results) {
    sheet_hits_ = std::move(results);
}

const std::string& FileRecord::Size() const {
    if (details_pending_) {
        LoadDetails();
    }
    return size_;
}

DateTime FileRecord::CreationTime() const {
    if (details_pending_) {
        LoadDetails();
    }
    return creation_time_;
}

void FileRecord::SetDetails(std::uint64_t size_bytes, DateTime created) {
    size_ = FormatFileSize(size_bytes);
    creation_time_ = created;
    details_pending_ = false;
    raw_held_ = false;
}

void FileRecord::SetRawDetails(std::uint64_t size_bytes, const timespec& created) {
    raw_size_ = size_bytes;
    raw_created_ = created;
    raw_held_ = true;
    details_pending_ = true;
}

void FileRecord::LoadDetails() const {
    details_pending_ = false;
    if (raw_held_) {
        raw_held_ = false;
        size_ = FormatFileSize(raw_size_);
        creation_time_ = LocalDateTimeFromFileTime(raw_created_);
        return;
    }
    FileDetails details;
    if (ReadFileDetails(AT_FDCWD, FullPath().c_str(), details)) {
        size_ = FormatFileSize(details.size);
        creation_time_ = LocalDateTimeFromFileTime(details.created);
    }
}

bool InsideFile::Strays() const {
    for (const std::string& name : names) {
        if (name.starts_with('/') || name == ".." || name.starts_with("../") ||
            name.ends_with("/..") || name.find("/../") != std::string::npos) {
            return true;
        }
    }
    return false;
}

void FileRecord::SetInside(std::shared_ptr<const InsideFile> inside) {
    std::string path = inside->container;
    for (const std::string& name : inside->names) {
        path += "//";
        path += name;
    }
    // The last name's folder goes with the root, as a file's does.
    const std::size_t last = inside->names.empty() ? std::string::npos : path.rfind('/');
    filename_ = path.substr(last + 1);
    SetRootPath(path.substr(0, last + 1));
    inside_ = std::move(inside);
}

void FileRecord::SetRootPath(std::string path) {
    root_path_ = std::make_shared<const std::string>(std::move(path));
}

std::string FileRecord::FullPath() const {
    const std::string& root = *root_path_;
    std::string path;
    path.reserve(root.size() + 1 + filename_.size());
    path = root;
    if (path.empty() || path.back() != '/') {
        path.push_back('/');
    }
    path += filename_;
    return path;
}

namespace {

constexpr std::uint64_t kHashSeed = 14695981039346656037ull;  // FNV-1a offset basis
constexpr std::uint64_t kHashPrime = 1099511628211ull;

}  // namespace

std::uint64_t FileRecords::HashUpdate(std::uint64_t state, std::string_view text) {
    // FNV-1a over the folded code points, so keys that differ only in case hash alike.
    for (std::size_t pos = 0; pos < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[pos]);
        char32_t c;
        if (lead < 0x80) {
            c = FoldCodePoint(lead);
            ++pos;
        } else {
            c = FoldCodePoint(DecodeUtf8(text, pos));
        }
        state = (state ^ c) * kHashPrime;
    }
    return state;
}

std::uint64_t FileRecords::RootHashState(const std::string& root) {
    const std::uint64_t state = HashUpdate(kHashSeed, root);
    return (root.empty() || root.back() != '/') ? HashUpdate(state, "/") : state;
}

FileRecord* FileRecords::Add(std::string_view file_name, std::string_view root_path,
                             std::string size, DateTime creation, std::string_view /*key*/) {
    auto record = std::make_unique<FileRecord>();
    record->filename_ = file_name;
    record->root_path_ = std::make_shared<const std::string>(root_path);
    record->size_ = std::move(size);
    record->creation_time_ = creation;
    return Add(std::move(record));
}

FileRecord* FileRecords::Add(std::unique_ptr<FileRecord> record) {
    const std::uint64_t hash = HashUpdate(RootHashState(*record->root_path_), record->filename_);
    return Insert(std::move(record), hash);
}

void FileRecords::AddUnique(std::unique_ptr<FileRecord> record) {
    records_.push_back(std::move(record));  // ordered when the index is built
}

void FileRecords::Append(FileRecords& other) {
    records_.reserve(records_.size() + other.records_.size());
    for (std::unique_ptr<FileRecord>& record : other.records_) {
        records_.push_back(std::move(record));
    }
    let_go_ += other.let_go_;
    other.records_.clear();
    other.index_.clear();
    other.indexed_count_ = 0;
    other.let_go_ = 0;
}

void FileRecords::PlaceAfter(
    std::vector<std::pair<const FileRecord*, std::unique_ptr<FileRecord>>>& inner) {
    if (inner.empty()) {
        return;
    }
    std::unordered_map<const FileRecord*, std::vector<std::unique_ptr<FileRecord>>> after;
    for (auto& [container, record] : inner) {
        after[container].push_back(std::move(record));
    }
    inner.clear();
    std::vector<std::unique_ptr<FileRecord>> placed;
    placed.reserve(records_.size() + inner.size());
    for (std::unique_ptr<FileRecord>& record : records_) {
        const auto found = after.find(record.get());
        placed.push_back(std::move(record));
        if (found != after.end()) {
            for (std::unique_ptr<FileRecord>& each : found->second) {
                placed.push_back(std::move(each));
            }
            after.erase(found);
        }
    }
    for (auto& [container, records] : after) {
        for (std::unique_ptr<FileRecord>& each : records) {
            placed.push_back(std::move(each));
        }
    }
    records_ = std::move(placed);
    index_.clear();  // rebuilt when a lookup needs it
    indexed_count_ = 0;
}

void FileRecords::LetGo(const std::function<bool(const FileRecord&)>& drop) {
    const auto kept = std::remove_if(
        records_.begin(), records_.end(),
        [&drop](const std::unique_ptr<FileRecord>& record) { return drop(*record); });
    let_go_ += static_cast<std::int32_t>(records_.end() - kept);
    records_.erase(kept, records_.end());
    index_.clear();  // rebuilt when a lookup needs it
    indexed_count_ = 0;
}

void FileRecords::Reserve(std::size_t count) {
    records_.reserve(records_.size() + count);
}

void FileRecords::EnsureIndex() const {
    if (indexed_count_ != records_.size()) {
        Reindex();
    }
}

FileRecord* FileRecords::Insert(std::unique_ptr<FileRecord> record, std::uint64_t hash) {
    EnsureIndex();
    if (!index_.empty()) {
        const std::size_t mask = index_.size() - 1;
        std::string key;  // built only when another record has the same hash
        for (std::size_t i = hash & mask; index_[i].record != nullptr; i = (i + 1) & mask) {
            if (index_[i].hash == hash) {
                if (key.empty()) {
                    key = record->FullPath();
                }
                if (index_[i].record->FullPath() == key) {
                    return nullptr;
                }
            }
        }
    }
    record->order_ = records_.size();
    FileRecord* raw = record.get();
    records_.push_back(std::move(record));
    if (records_.size() * 2 > index_.size()) {
        Grow();
    }
    PlaceInIndex(hash, raw);
    indexed_count_ = records_.size();
    return raw;
}

void FileRecords::PlaceInIndex(std::uint64_t hash, FileRecord* record) const {
    const std::size_t mask = index_.size() - 1;
    std::size_t i = hash & mask;
    while (index_[i].record != nullptr) {
        i = (i + 1) & mask;
    }
    index_[i] = {hash, record};
}

void FileRecords::Grow() const {
    std::vector<Slot> old = std::move(index_);
    index_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
    for (const Slot& slot : old) {
        if (slot.record != nullptr) {
            PlaceInIndex(slot.hash, slot.record);
        }
    }
}

void FileRecords::Reindex() const {
    std::size_t capacity = 16;
    while (capacity < records_.size() * 2) {
        capacity *= 2;
    }
    index_.assign(capacity, Slot{});
    // Records come folder by folder: hash each folder once.
    const std::string* root = nullptr;
    std::uint64_t root_state = 0;
    std::uint64_t order = 0;
    for (const auto& record : records_) {
        record->order_ = order++;
        if (record->root_path_.get() != root) {
            root = record->root_path_.get();
            root_state = RootHashState(*root);
        }
        PlaceInIndex(HashUpdate(root_state, record->filename_), record.get());
    }
    indexed_count_ = records_.size();
}

FileRecord* FileRecords::Item(std::int32_t position) const {
    if (position < 1 || position > Count()) {
        return nullptr;
    }
    return records_[static_cast<std::size_t>(position - 1)].get();
}

FileRecord* FileRecords::Item(std::string_view key) const {
    EnsureIndex();
    if (index_.empty()) {
        return nullptr;
    }
    const std::uint64_t hash = HashUpdate(kHashSeed, key);
    const std::size_t mask = index_.size() - 1;
    FileRecord* best = nullptr;
    for (std::size_t i = hash & mask; index_[i].record != nullptr; i = (i + 1) & mask) {
        if (index_[i].hash != hash) {
            continue;
        }
        FileRecord* candidate = index_[i].record;
        const std::string candidate_key = candidate->FullPath();
        if (candidate_key == key) {
            return candidate;
        }
        if ((best == nullptr || candidate->order_ < best->order_) &&
            EqualsIgnoringCase(candidate_key, key)) {
            best = candidate;
        }
    }
    return best;
}

}  // namespace ferret
