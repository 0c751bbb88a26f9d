#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/early_search.h"
#include "engine/inner_files.h"
#include "engine/mask_match.h"
#include "engine/office_files.h"
#include "engine/plain_matcher.h"
#include "engine/run_stage.h"

namespace ferret {

// A search run's content stage: what it searches with, made once before the walk, and the
// search of each file.
class SearchStage {
  public:
    explicit SearchStage(const RunContext& run);

    // Searches one file; nothing when it is an office document and `early` (those go to
    // LibreOffice in list order).
    // `flush`: what hands on its hit lines while it is searched (none on the early search's
    // workers: a file with many lines is then left to the file's turn in order).
    std::optional<std::int32_t> SearchOne(FileRecord& record, FileFound& found, bool early,
                                          const HitFlush* flush = nullptr);
    // While the walk goes on, on the run's thread: tells the files in list order as they are
    // searched, by `early` or here, and keeps the records of those with a count other than 0.
    void Lead(EarlySearch& early);
    // Searches every file of `records` not told by Lead (those before early.Led(), which may be
    // null) nor searched while the walk went on.
    void Run(std::vector<FileRecord*>& records, EarlySearch& early);

    // An archive or PDF searched inside (SearchFields::search_inside): the hits of a compressed
    // file's data or of a PDF's pages, its entries put in `found`; nothing when it is searched as
    // a file (no container, or its bytes are none). Pause holds it between entries and pages.
    std::optional<std::int32_t> SearchInside(FileRecord& record, FileFound& found);

  private:
    // Whether an entry of `container` (the archive's name) is searched: the mask and the size
    // filter apply to it.
    bool EntryWanted(const InnerFile& file, const std::string& container) const;
    // The mask's verdict (`matched`: whether a name matched it) and the size filter, for a file
    // the walk did not filter; an unknown size passes.
    bool PassesFilters(bool matched, std::optional<std::uint64_t> size) const;
    // The hits in the inner file read from `fd`; its hit lines in `hits` when they are asked for,
    // `flush` taking them a part at a time.
    std::int32_t SearchInner(int fd, FileHits& hits, std::vector<RunProblem>& problems,
                             const std::string& path, const HitFlush& flush);
    std::int32_t SearchHitLines(FileRecord& record, int folder, const std::string& name,
                                FileFound& found, const HitFlush& flush);
    // The pattern a file is searched with as the pattern switch stands now; nullptr: the plain
    // text, by the matcher.
    LazyPattern* PatternNow();
    // `lazy` compiled, or nullptr with the reason added to `problems`.
    static const RegExp* Compiled(LazyPattern& lazy, std::vector<RunProblem>& problems);

    const RunContext& run_;
    const bool ignore_case_;
    const std::string text_;
    const PlainMatcher matcher_;
    LazyPattern pattern_;
    // A plain text that must be a whole word is found as a pattern.
    const bool whole_word_;
    LazyPattern plain_word_;
    OfficeFiles office_;
    const NameMask entry_mask_;
    const SizeBound entry_size_;
    ArchiveLimits limits_;
};

}  // namespace ferret
