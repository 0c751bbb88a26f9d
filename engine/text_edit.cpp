#include "engine/text_edit.h"

namespace ferret {

std::string ApplyEdits(std::string_view original, const std::vector<TextEdit>& edits) {
    std::size_t size = original.size();
    for (const TextEdit& edit : edits) {
        size = size - (edit.end - edit.start) + edit.text.size();
    }
    std::string out;
    out.reserve(size);
    std::size_t copied = 0;
    for (const TextEdit& edit : edits) {
        out.append(original.substr(copied, edit.start - copied));
        out.append(edit.text);
        copied = edit.end;
    }
    out.append(original.substr(copied));
    return out;
}

Status TellEdits(std::string_view text, const std::vector<TextEdit>& edits,
                 ChangeListener& listener) {
    std::size_t told = 0;
    for (const TextEdit& edit : edits) {
        if (Status status = listener.Keep(text.substr(told, edit.start - told)); !status.ok()) {
            return status;
        }
        if (Status status =
                listener.Change(text.substr(edit.start, edit.end - edit.start), edit.text);
            !status.ok()) {
            return status;
        }
        told = edit.end;
    }
    return listener.Keep(text.substr(told));
}

}  // namespace ferret
