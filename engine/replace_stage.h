#pragma once

#include "engine/early_search.h"
#include "engine/preview_stage.h"
#include "engine/restore_point.h"
#include "engine/run_stage.h"

namespace ferret {

// The content stage of a run that replaces: works out each file's changes and writes them a
// batch at a time, keeping their originals in `restore` when given. `preview` and `early` for a
// preview, which writes nothing: what it works with, and the files it previewed while the walk
// went on.
void ReplaceInFileList(const RunContext& run, FileRecords& files, RestorePoint* restore,
                       PreviewTools* preview = nullptr, EarlySearch* early = nullptr);

}  // namespace ferret
