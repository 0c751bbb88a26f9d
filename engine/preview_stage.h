#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/change_finder.h"
#include "engine/content_replace.h"
#include "engine/office_files.h"
#include "engine/restore_point.h"
#include "engine/run_stage.h"

namespace ferret {

// What a preview works with, made once before the walk.
struct PreviewTools {
    PreviewTools(const RunRequest& request, bool regex)
        : finder(std::make_shared<const ChangeFinder>(
              request.fields.search_text, request.fields.replace_text, regex,
              request.fields.ignore_case, request.fields.whole_word, request.longest_match)),
          kept_copies(request.restore_folder),
          start(request.fields.folder),
          office(request.office_extensions, request.office_setup, request.fields.whole_word) {}
    // Shared with the previews: a patch is made of a file's changes found again.
    const std::shared_ptr<const ChangeFinder> finder;
    const RestoreFolderGuard kept_copies;
    const StartFolder start;  // what it would rewrite lies beneath it
    OfficeFiles office;
    RealPaths real_paths;  // the names of the files it would change
};

// Previews one text file: its count, and in `found` its problems, hit lines and, when it
// would change, its preview. Nothing for an office document, an archive or PDF looked inside,
// or a pattern that cannot be used: the content stage takes those.
std::optional<std::int32_t> PreviewOne(const RunRequest& request, const RunControl& control,
                                       PreviewTools& tools, FileRecord& record, FileFound& found);

}  // namespace ferret
