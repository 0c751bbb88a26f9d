#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace ferret {

// The open, save and folder dialogs, over QFileDialog. Each returns the path chosen, or an empty
// text when the user cancelled or no dialog can be shown (no application object). GUI thread.
class FileDialogs {
  public:
    // What a dialog is asked to show; given to the test hook instead of showing it.
    struct Request {
        enum class Kind { kOpen, kSave, kFolder };
        Kind kind = Kind::kOpen;
        std::string title;
        std::string folder;                     // the starting folder
        std::vector<std::string> name_filters;  // Qt's form: "Text files (*.txt *.log)"
        std::string default_suffix;             // without the dot ("frs")
    };
    // The paths chosen, or nothing (or an empty list) when the user cancelled.
    using Answer = std::optional<std::vector<std::string>>;
    using Hook = std::function<Answer(const Request&)>;
    // When a hook is installed, the dialogs call it instead of showing themselves (tests).
    // Returns the hook it replaces.
    static Hook SetTestHook(Hook hook);

    // `filter` is "description|pattern|description|pattern", patterns separated by ";" as in
    // "Text (*.txt)|*.txt;*.log"; Qt's name filters, one per pair.
    static std::vector<std::string> NameFilters(const std::string& filter);

    // A file to open, of the first filter's kind at first.
    static std::string OpenFile(QWidget* owner, const std::string& title,
                                const std::string& filter);
    // A file to save into: `suffix` (without the dot) is added to a name without one, and the
    // user confirms writing over a file that exists.
    static std::string SaveFile(QWidget* owner, const std::string& title, const std::string& filter,
                                const std::string& suffix);
    // A folder, starting at `start`, without a trailing "/".
    static std::string ChooseFolder(QWidget* owner, const std::string& title,
                                    const std::string& start);
};

}  // namespace ferret
