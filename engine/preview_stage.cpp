#include "engine/preview_stage.h"

#include <exception>
#include <string>
#include <utility>

#include "engine/inner_files.h"

namespace ferret {

std::optional<std::int32_t> PreviewOne(const RunRequest& request, const RunControl& control,
                                       PreviewTools& tools, FileRecord& record, FileFound& found) {
    if (control.Stopped()) {
        return 0;
    }
    // An archive or PDF looked inside is only searched, by the content stage.
    if ((request.fields.search_inside && ContainerOf(record.Filename()) != Container::kNone) ||
        tools.office.Takes(record) || !tools.finder->status().ok()) {
        return std::nullopt;
    }
    if (!IsApprovedForReplace(record.Filename(), request.approved_extensions)) {
        return 0;  // not opened
    }
    const std::string path = record.FullPath();
    if (tools.kept_copies.Contains(path)) {
        return 0;  // the way back of earlier runs is never rewritten
    }
    const int folder = t_open_folder.For(record);
    const std::string name = NameIn(folder, record);
    // The walk leaves the details of the regular files it found to whoever opens them.
    FilePlace place(path, folder, name, record.DetailsPending(), &tools.start);
    place.skip_binary = request.fields.skip_binary;
    place.encoding = &request.encoding;
    const auto problem = [&](const std::string& why) {
        found.problems.push_back({RunKind::kReplace, ProblemKind::kFile,
                                  Status::Error(kFileAccessError, path + ": " + why)});
        return kNotSearched;
    };
    try {
        RewritePlan plan;
        const RewriteResult result = PreparePreview(
            place, *tools.finder, request.want_details ? DetailsFor(record) : DetailsSink(),
            request.hit_lines ? &found.hits : nullptr, request.hit_lines.value_or(0), plan,
            request.preview_changes);
        if (result.count == kNotSearched) {
            return problem(result.error);
        }
        if (result.rewritten) {
            // A file reached by two names is told once, by the first in list order (see
            // RewriteHolding): a file previewed while the walk went on may belong to a
            // visit of its folder that the walk drops for another.
            std::string target = tools.real_paths.Of(place, result.name_is_link);
            if (target.empty()) {
                return problem(kChangedMeanwhile);
            }
            if (!tools.start.Inside(target)) {
                return problem(tools.start.OutsideText());
            }
            found.preview = FilePreview{std::move(plan), false, std::move(target), tools.finder};
        }
        return result.count;
    } catch (const std::exception& error) {
        return problem(error.what());
    }
}

}  // namespace ferret
