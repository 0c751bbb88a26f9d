#include "reports/hit_line_table.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>

#include "engine/file_records.h"

namespace ferret {

HitLineStore::Place& HitLineStore::NextPlace() {
    if (size_ % kChunk == 0) {
        chunks_.push_back(std::make_unique<Place[]>(kChunk));
    }
    return chunks_[size_ / kChunk][size_ % kChunk];
}

void HitLineStore::Add(const HitLine& line, int text_from) {
    Place& place = NextPlace();
    if (text_from < 0) {
        place = {static_cast<std::uint32_t>(kept_.size()), kKept << 8, 0};
        kept_.push_back(line);
        ++size_;
        return;
    }
    const std::uint64_t offset = line.offset + static_cast<std::uint64_t>(text_from);
    const std::int64_t column = line.hits > 0 ? std::max<std::int64_t>(line.column, 1) : 0;
    if (offset < (std::uint64_t{1} << 40) && line.number >= 0 &&
        line.number <= std::numeric_limits<std::uint32_t>::max() && column < kWide) {
        place = {
            static_cast<std::uint32_t>(offset),
            static_cast<std::uint32_t>(offset >> 32) | (static_cast<std::uint32_t>(column) << 8),
            static_cast<std::uint32_t>(line.number)};
    } else {
        place = {0, kWide << 8, 0};
        wide_[size_] = {offset, line.number, column};
    }
    ++size_;
}

void HitLineStore::Add(const FileHits& hits) {
    for (const HitLine& line : hits.lines) {
        Add(line, hits.text_from);
    }
}

void HitLineStore::Append(const HitLineStore& from, std::size_t first, std::size_t count) {
    for (std::size_t index = first; index < first + count; ++index) {
        const Place& place = from.PlaceAt(index);
        const std::uint32_t column = ColumnOf(place);
        if (column == kKept) {
            Add(from.kept_[place.offset], -1);
            continue;
        }
        NextPlace() = place;
        if (column == kWide) {
            wide_[size_] = from.wide_.at(index);
        }
        ++size_;
    }
}

bool HitLineStore::TextKept(std::size_t index) const {
    return ColumnOf(PlaceAt(index)) == kKept;
}

std::uint64_t HitLineStore::FileOffset(std::size_t index) const {
    const Place& place = PlaceAt(index);
    if (ColumnOf(place) == kWide) {
        return wide_.at(index).offset;
    }
    return place.offset | (static_cast<std::uint64_t>(place.high & 0xFF) << 32);
}

HitLine HitLineStore::At(std::size_t index) const {
    const Place& place = PlaceAt(index);
    const std::uint32_t column = ColumnOf(place);
    if (column == kKept) {
        return kept_[place.offset];
    }
    HitLine line;
    if (column == kWide) {
        const Wide& wide = wide_.at(index);
        line.number = wide.number;
        line.column = wide.column;
    } else {
        line.number = place.number;
        line.column = column;
    }
    line.hits = line.column > 0 ? 1 : 0;
    return line;
}

FileHitLines& HitLineTable::EntryFor(const FileRecord& file, bool binary) {
    if (entries.empty() || entries.back().file != &file) {
        entries.push_back({&file, false, lines.size(), 0});
    }
    FileHitLines& entry = entries.back();
    entry.binary = entry.binary || binary;
    return entry;
}

void HitLineTable::Add(const FileRecord& file, const FileHits& hits) {
    FileHitLines& entry = EntryFor(file, hits.binary);
    lines.Add(hits);
    entry.count += hits.lines.size();
}

void HitLineTable::Add(const FileRecord& file, const HitLineStore& from, std::size_t first,
                       std::size_t count, bool binary) {
    FileHitLines& entry = EntryFor(file, binary);
    lines.Append(from, first, count);
    entry.count += count;
}

void HitLineTable::SetHits(const FileRecord& file, std::int32_t count) {
    // The file done is one of the last ones added.
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->file == &file) {
            entry->hits = count;
            return;
        }
    }
}

std::int32_t HitLineTable::HitsOf(const FileHitLines& entry) const {
    if (entry.hits >= 0) {
        return entry.hits;
    }
    return filling ? -1 : entry.file->ItemsFound();
}

int HitLineReader::Open(const std::string& path) {
    const auto found = std::find_if(open_.begin(), open_.end(),
                                    [&](const OpenFile& file) { return file.path == path; });
    if (found != open_.end()) {
        std::rotate(found, found + 1, open_.end());
        return open_.back().fd.get();
    }
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    // Only a file is read: a FIFO or a device put in its place since is not.
    struct stat info {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    constexpr std::size_t kKeptOpen = 4;
    if (open_.size() == kKeptOpen) {
        open_.erase(open_.begin());
    }
    open_.push_back({path, std::move(fd)});
    return open_.back().fd.get();
}

std::optional<std::string> HitLineReader::Text(const std::string& path, std::uint64_t offset,
                                               std::int64_t column) {
    const int fd = Open(path);
    if (fd < 0) {
        return std::nullopt;
    }
    // A line of up to this much is read whole; of a longer one, what is around its first hit.
    constexpr std::size_t kRead = 64 * 1024;
    constexpr std::uint64_t kAround = 4 * kHitLineLength * 4;  // characters of up to 4 bytes
    std::string bytes(kRead, '\0');
    const std::uint64_t hit = column > 0 ? static_cast<std::uint64_t>(column - 1) : 0;
    ReadResult got = ReadFullAt(fd, bytes.data(), bytes.size(), offset);
    if (got.failed() || (got.bytes == 0 && hit > 0)) {
        return std::nullopt;
    }
    bytes.resize(got.bytes);
    std::size_t end = bytes.find('\n');
    bool cut_before = false;
    bool cut_after = false;
    if (end == std::string::npos && got.bytes == kRead) {
        cut_after = true;
        if (hit + kAround > kRead) {
            // Far into a long line: only around its hit, from a character's start.
            std::uint64_t from = hit > kAround ? hit - kAround : 0;
            got = ReadFullAt(fd, bytes.data(), kRead, offset + from);
            if (got.failed()) {
                return std::nullopt;
            }
            bytes.resize(got.bytes);
            std::size_t skip = 0;
            while (skip < bytes.size() &&
                   (static_cast<unsigned char>(bytes[skip]) & 0xC0) == 0x80) {
                ++skip;
            }
            bytes.erase(0, skip);
            from += skip;
            cut_before = from > 0;
            end = bytes.find('\n');
            cut_after = end == std::string::npos && got.bytes == kRead;
            column = static_cast<std::int64_t>(hit - from) + 1;
        }
    }
    std::string_view line(bytes.data(), end == std::string::npos ? bytes.size() : end);
    if (end != std::string::npos && !line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    const std::size_t at = std::min<std::size_t>(column > 0 ? column - 1 : 0, line.size());
    std::string text = CutLine(line, column > 0 ? Characters(line.substr(0, at)) : 0);
    constexpr std::string_view kCut = "…";
    if (cut_before && text.rfind(kCut, 0) != 0) {
        text.insert(0, kCut);
    }
    if (cut_after && (text.size() < kCut.size() ||
                      text.compare(text.size() - kCut.size(), kCut.size(), kCut) != 0)) {
        text += kCut;
    }
    return text;
}

std::optional<HitLine> TableLine(const HitLineTable& table, const FileHitLines& entry,
                                 std::size_t index, HitLineReader& reader) {
    const std::size_t at = entry.first + index;
    HitLine line = table.lines.At(at);
    if (table.lines.TextKept(at)) {
        return line;
    }
    std::optional<std::string> text =
        reader.Text(entry.file->FullPath(), table.lines.FileOffset(at), line.column);
    if (!text) {
        return std::nullopt;
    }
    line.text = std::move(*text);
    return line;
}

}  // namespace ferret
