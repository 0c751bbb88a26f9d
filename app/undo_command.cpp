#include "app/undo_command.h"

#include <errno.h>

#include <QDateTime>
#include <exception>
#include <new>
#include <vector>

#include "app/command_process.h"
#include "engine/restore_point.h"
#include "reports/quoted_name.h"
#include "settings/app_settings.h"

namespace ferret {

std::string RestorePointTime(long long seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        .toStdString();
}

namespace {

int Undo(const std::string& target, std::FILE* out, std::FILE* err) {
    const std::string base = ReadAppSettings().restore_folder;
    if (const Status trusted = CheckRestoreFolder(base);
        !trusted.ok() && trusted.number() != ENOENT) {
        std::fprintf(err, "ferret: the restore points cannot be used: %s\n",
                     trusted.description().c_str());
        return kExitUndoNothing;
    }
    if (target != "list") {
        for (const std::string& left : RemoveLeftovers(base)) {
            std::fprintf(out, "Removed %s, a new file an interrupted replace run had left\n",
                         QuotedName(left).c_str());
        }
    }
    const std::vector<RestorePointInfo> points = ListRestorePoints(base);
    if (target == "list") {
        if (points.empty()) {
            std::fprintf(out, "There are no replace runs to undo in %s.\n", base.c_str());
        }
        for (const RestorePointInfo& point : points) {
            std::fprintf(out, "%s  %s  %d file(s)  \"%s\" -> \"%s\"  in %s\n", point.id.c_str(),
                         RestorePointTime(point.created.tv_sec).c_str(), point.Pending(),
                         EscapedText(point.search_text).c_str(),
                         EscapedText(point.replace_text).c_str(),
                         QuotedName(point.start_folder).c_str());
        }
        return kExitDone;
    }
    const RestorePointInfo* chosen = nullptr;
    for (const RestorePointInfo& point : points) {
        if (target.empty() || point.id == target) {
            chosen = &point;
            break;
        }
    }
    if (chosen == nullptr) {
        std::fprintf(err,
                     target.empty() ? "ferret: there is no replace run to undo in %s\n"
                                    : "ferret: there is no restore point '%s' to undo in %s "
                                      "(see 'ferret -undo list')\n",
                     target.empty() ? base.c_str() : target.c_str(), base.c_str());
        return kExitUndoNothing;
    }
    UndoOutcome outcome;
    if (const Status status = UndoRestorePoint(chosen->folder, outcome); !status.ok()) {
        std::fprintf(err, "ferret: cannot undo %s: %s\n", chosen->id.c_str(),
                     EscapedText(status.description()).c_str());
        return kExitUndoNothing;
    }
    std::fprintf(out, "Restored %d file(s) of the replace run %s (\"%s\" -> \"%s\").\n",
                 outcome.restored, chosen->id.c_str(), EscapedText(chosen->search_text).c_str(),
                 EscapedText(chosen->replace_text).c_str());
    for (const UndoOutcome::Refusal& refusal : outcome.refused) {
        // One line a file, whatever its name holds.
        std::fprintf(err, "ferret: not done: %s: %s\n", QuotedName(refusal.path).c_str(),
                     EscapedText(refusal.reason).c_str());
    }
    return outcome.refused.empty() ? kExitDone : kExitUndoPartly;
}

}  // namespace

int UndoCommand(const std::string& target, std::FILE* out, std::FILE* err) {
    // The files are put back one at a time, each told when it fails; whatever fails around
    // them (memory for the list of restore points, say) is told too, never an abort.
    try {
        return Undo(target, out, err);
    } catch (const std::bad_alloc&) {
        std::fprintf(err, "ferret: cannot undo: there was not enough memory\n");
    } catch (const std::exception& error) {
        std::fprintf(err, "ferret: cannot undo: %s\n", error.what());
    }
    return kExitUndoNothing;
}

}  // namespace ferret
