#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/hit_lines.h"
#include "util/file_handle.h"

namespace ferret {

class FileRecord;
class FileRecords;

// A run's hit lines as the window keeps them, in the order they came: of a line whose text can
// be read again from its file only its place (12 bytes); other lines (a preview's new text, a
// text decoded from UTF-16, a document's places) whole. So millions of lines take little more
// than their number.
class HitLineStore {
  public:
    // `text_from`: as FileHits::text_from of the file the line belongs to.
    void Add(const HitLine& line, int text_from);
    // Adds every line of `hits`.
    void Add(const FileHits& hits);
    // Adds lines [first, first + count) of `from`.
    void Append(const HitLineStore& from, std::size_t first, std::size_t count);
    std::size_t size() const { return size_; }
    // Line `index` without its text, unless it was kept whole (TextKept); a line kept by its
    // place tells one hit (its first).
    HitLine At(std::size_t index) const;
    bool TextKept(std::size_t index) const;
    // Where line `index` starts in its file, when its text was not kept.
    std::uint64_t FileOffset(std::size_t index) const;

  private:
    // A place that fits: an offset below 2^40, a number below 2^32 and a column below 2^24 - 2.
    struct Place {
        std::uint32_t offset;  // its low 32 bits; with kKept, the index of the kept line
        std::uint32_t high;    // the offset's bits 32 to 39, then the column (0: a context line)
        std::uint32_t number;
    };
    // Places that do not fit, by index.
    struct Wide {
        std::uint64_t offset = 0;
        std::int64_t number = 0;
        std::int64_t column = 0;
    };
    static constexpr std::size_t kChunk = std::size_t{1} << 16;
    static constexpr std::uint32_t kKept = 0xFFFFFF;  // as the column
    static constexpr std::uint32_t kWide = 0xFFFFFE;
    static std::uint32_t ColumnOf(const Place& place) { return place.high >> 8; }

    const Place& PlaceAt(std::size_t index) const {
        return chunks_[index / kChunk][index % kChunk];
    }
    // The slot of the next line (size_ is then counted up).
    Place& NextPlace();

    // Fixed chunks: the store grows without moving what it holds.
    std::vector<std::unique_ptr<Place[]>> chunks_;
    std::size_t size_ = 0;
    std::vector<HitLine> kept_;
    std::unordered_map<std::size_t, Wide> wide_;
};

// The hit lines of a run's file with hits: lines [first, first + count) of the table's store.
struct FileHitLines {
    const FileRecord* file = nullptr;  // one of HitLineTable::files
    bool binary = false;               // its lines are not shown (FileHits::binary)
    std::size_t first = 0;
    std::size_t count = 0;
    // Its hits, when told with its lines (a table filled while the run goes); -1: its record's.
    std::int32_t hits = -1;
};

// The hit lines of a run's files with hits, in list order.
struct HitLineTable {
    // Adds `hits` of `file`, to its entry when it is the last one (a file's lines come in parts).
    void Add(const FileRecord& file, const FileHits& hits);
    // Adds lines [first, first + count) of `from` as `file`'s, as Add does.
    void Add(const FileRecord& file, const HitLineStore& from, std::size_t first, std::size_t count,
             bool binary);
    // The hits of `file`'s entry, told when the file is done (a table filled while the run goes).
    void SetHits(const FileRecord& file, std::int32_t count);
    // The hits of `entry`; -1 while a table that fills does not know them yet.
    std::int32_t HitsOf(const FileHitLines& entry) const;

    std::shared_ptr<FileRecords> files;  // keeps the records alive
    std::vector<FileHitLines> entries;
    HitLineStore lines;
    // What marks the hits in a line: the search text, or the replacement in a replace run
    // (whose lines show the new text), and how it was searched.
    std::string marked;
    bool regex = false;
    bool ignore_case = false;
    bool whole_word = false;
    bool replaced = false;
    // Filled on the window's thread while the run goes: a record's count may not be read then
    // (the run sets it), only the hits told with the lines.
    bool filling = false;

  private:
    // `file`'s entry: the last one, or a new one after it.
    FileHitLines& EntryFor(const FileRecord& file, bool binary);
};

// Reads hit lines' texts again from their files, cut as HitLineBuilder cuts them; the last few
// files stay open, as the rows drawn together mostly share one.
class HitLineReader {
  public:
    // The text of the line at `offset` of the file at `path`, its first hit at byte `column`
    // (1-based; 0 for a context line); nothing when the file cannot be read there.
    std::optional<std::string> Text(const std::string& path, std::uint64_t offset,
                                    std::int64_t column);

  private:
    int Open(const std::string& path);

    struct OpenFile {
        std::string path;
        Fd fd;
    };
    std::vector<OpenFile> open_;  // the most recent last
};

// Line `index` of `table`'s store, its text read again when it was not kept (`reader`).
std::optional<HitLine> TableLine(const HitLineTable& table, const FileHitLines& entry,
                                 std::size_t index, HitLineReader& reader);

}  // namespace ferret
