#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/date_time.h"

namespace ferret {

// The main window's search fields as one plain object: the window binds its widgets to it, the
// unattended run fills it from the command line or a saved search, and a run reads a copy of it.
struct SearchFields {
    // Option indexes of the size and date filters, as the window's option buttons number them.
    enum SizeOption : std::int32_t {
        kSizeAny = 0,
        kSizeSmall = 1,   // at most 100 KB
        kSizeMedium = 2,  // at most 1,000 KB
        kSizeLarge = 3,   // at least 1,000 KB
        kSizeSpecified = 4,
    };
    enum DateOption : std::int32_t {
        kDateAnyTime = 0,
        kDateLastWeek = 1,
        kDateLastMonth = 2,
        kDateLastYear = 3,
        kDateSpecified = 4,
    };

    std::string folder;             // the start folder (folder box and folder tree)
    std::string file_mask = "*.*";  // the mask box text
    bool include_listed = true;     // "Include file(s) listed" rather than "Exclude"
    bool recursive = true;          // "Search sub&folders"
    std::int32_t size_option = kSizeAny;
    bool size_at_least = true;  // "At Least" rather than "At Most"
    std::string size_text;      // KB, for kSizeSpecified
    std::int32_t date_option = kDateAnyTime;
    std::int32_t date_kind = 0;  // 0 modified, 1 accessed, 2 created, -1 none chosen
    DateTime date_from = 0;
    DateTime date_to = 0;
    // Folder names the walk never enters: ";"-separated, in the file mask's syntax; empty: none.
    std::string skip_folders;
    // Files and folders that the ignore files (.gitignore, .ignore, git's exclude files) leave
    // out are not listed, and their folders not walked.
    bool use_ignore_files = false;
    // Files whose first block holds a NUL byte (and that have no text mark) are neither searched
    // nor listed.
    bool skip_binary = false;
    // Archives and compressed files are searched entry by entry, each entry a file of the list
    // (the mask and the size filter apply to entries, not to the archive), and PDFs page by page.
    // Nothing inside is ever written.
    bool search_inside = false;
    std::string search_text;
    std::string replace_text;
    bool regex = false;
    bool ignore_case = false;
    // Hits only where the text (or the pattern's match) starts and ends at a word's bounds, as
    // "\b" on both sides would have it.
    bool whole_word = false;
};

// The size filter of `fields` in bytes (`size_kb`: the size typed, for kSizeSpecified): a file
// passes when its size is at least, or at most, `bytes`, both bounds inclusive; -1: no filter.
struct SizeBound {
    double bytes = -1;
    bool at_least = false;
    bool Passes(std::uint64_t size) const {
        const double value = static_cast<double>(size);
        return bytes == -1 || (at_least ? value >= bytes : value <= bytes);
    }
};
SizeBound SizeBoundOf(const SearchFields& fields, double size_kb);

}  // namespace ferret
