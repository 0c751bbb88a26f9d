#include "app/file_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QStringList>

namespace ferret {
namespace {

// The platform's "dialog could not be initialised" code, negated as the show operations return
// their failures.
constexpr int kCannotShow = -0x0002;

FileDialogs::Hook& TestHook() {
    static FileDialogs::Hook hook;
    return hook;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "*.txt;*.log" as Qt writes it, "*.txt *.log". "*.*" means every file there, but in Qt's
// matching it would need a dot, so it becomes "*".
std::string QtPatterns(const std::string& patterns) {
    std::string out;
    for (const std::string& part : Split(patterns, ';')) {
        const std::string trimmed = Trim(part);
        const std::string_view pattern = trimmed == "*.*" ? std::string_view("*") : trimmed;
        if (!pattern.empty()) {
            if (!out.empty()) {
                out += ' ';
            }
            out += pattern;
        }
    }
    return out.empty() ? "*" : out;
}

std::string QtNameFilter(const std::string& description, const std::string& patterns) {
    const std::string qt_patterns = QtPatterns(patterns);
    std::string base = Trim(description);
    // Descriptions usually show their patterns ("Text (*.txt)"); Qt takes the patterns from
    // the last group in parentheses, so that group is replaced by the real ones.
    if (!base.empty() && base.back() == ')') {
        if (const std::size_t open = base.rfind('('); open != std::string::npos) {
            const std::string shown = base.substr(open + 1, base.size() - open - 2);
            if (shown.find_first_of("*?") != std::string::npos ||
                QtPatterns(shown) == qt_patterns) {
                base = Trim(base.substr(0, open));
            }
        }
    }
    return base.empty() ? "(" + qt_patterns + ")" : base + " (" + qt_patterns + ")";
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool Within(const std::string& path, const std::string& folder) {
    if (folder.empty()) {
        return true;
    }
    if (folder == "/") {
        return path.starts_with('/');
    }
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

FileDialogs::Hook FileDialogs::SetTestHook(Hook hook) {
    Hook previous = std::move(TestHook());
    TestHook() = std::move(hook);
    return previous;
}

std::vector<std::string> FileDialogs::NameFilters() const {
    return NameFilters(filter_);
}

std::vector<std::string> FileDialogs::NameFilters(const std::string& filter) {
    std::vector<std::string> filters;
    if (filter.empty()) {
        return filters;
    }
    const std::vector<std::string> parts = Split(filter, '|');
    // A description without its pattern at the end is dropped, as the platform ignored it.
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        filters.push_back(QtNameFilter(parts[i], parts[i + 1]));
    }
    return filters;
}

FileDialogs::Request FileDialogs::MakeRequest(Request::Kind kind) const {
    Request request;
    request.kind = kind;
    request.title = title_;
    request.folder = init_dir_;
    if (kind == Request::Kind::kFolder) {
        return request;
    }
    request.file_name = filename_.substr(0, filename_.find('\0'));
    request.name_filters = NameFilters();
    const int count = static_cast<int>(request.name_filters.size());
    request.selected_filter = filter_index_ >= 1 && filter_index_ <= count ? filter_index_ - 1 : 0;
    request.default_suffix = default_ext_.starts_with('.') ? default_ext_.substr(1) : default_ext_;
    request.multiple = kind == Request::Kind::kOpen && (flags_ & OFN_ALLOWMULTISELECT) != 0;
    request.confirm_overwrite = kind == Request::Kind::kSave && (flags_ & OFN_OVERWRITEPROMPT) != 0;
    return request;
}

namespace {

FileDialogs::Answer Show(const FileDialogs::Request& request, QWidget* owner) {
    using Kind = FileDialogs::Request::Kind;
    const QString title = QString::fromStdString(request.title);
    const QString folder = QString::fromStdString(request.folder);
    std::vector<std::string> chosen;
    if (request.kind == Kind::kFolder) {
        const QString path = QFileDialog::getExistingDirectory(owner, title, folder);
        if (!path.isEmpty()) {
            chosen.push_back(path.toStdString());
        }
        return chosen;
    }
    QFileDialog dialog(owner, title, folder);
    dialog.setAcceptMode(request.kind == Kind::kSave ? QFileDialog::AcceptSave
                                                     : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.kind == Kind::kSave ? QFileDialog::AnyFile
                       : request.multiple          ? QFileDialog::ExistingFiles
                                                   : QFileDialog::ExistingFile);
    if (request.kind == Kind::kSave && !request.confirm_overwrite) {
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    }
    if (!request.name_filters.empty()) {
        QStringList filters;
        for (const std::string& filter : request.name_filters) {
            filters << QString::fromStdString(filter);
        }
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.at(request.selected_filter));
    }
    dialog.setDefaultSuffix(QString::fromStdString(request.default_suffix));
    if (!request.file_name.empty()) {
        dialog.selectFile(QString::fromStdString(request.file_name));
    }
    if (dialog.exec() == QDialog::Accepted) {
        for (const QString& path : dialog.selectedFiles()) {
            chosen.push_back(path.toStdString());
        }
    }
    return chosen;
}

}  // namespace

FileDialogs::Answer FileDialogs::Ask(const Request& request, bool& shown) const {
    if (TestHook()) {
        return TestHook()(request);
    }
    // Without a QApplication no dialog can be shown.
    shown = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    return shown ? Show(request, owner_) : Answer();
}

int FileDialogs::ShowFileDialog(Request::Kind kind) {
    const Request request = MakeRequest(kind);
    bool shown = true;
    Answer answer = Ask(request, shown);
    if (!shown) {
        return kCannotShow;
    }
    if (!answer || answer->empty()) {
        return 0;
    }
    std::vector<std::string>& paths = *answer;
    if (kind == Request::Kind::kSave && !request.default_suffix.empty()) {
        for (std::string& path : paths) {
            const std::size_t slash = path.rfind('/');
            const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
            if (path.find('.', name) == std::string::npos) {
                path += "." + request.default_suffix;
            }
        }
    }
    const std::size_t slash = paths.front().rfind('/');
    file_title_ = slash == std::string::npos ? paths.front() : paths.front().substr(slash + 1);
    if (paths.size() == 1) {
        filename_ = paths.front();
        path_ = filename_.substr(0, filename_.size() - file_title_.size());
        return 1;
    }
    // Several files: their folder and the names relative to it, NUL-separated.
    std::string folder = Parent(paths.front());
    for (const std::string& path : paths) {
        while (!folder.empty() && !Within(path, folder)) {
            folder = Parent(folder);
        }
    }
    filename_ = folder;
    for (const std::string& path : paths) {
        std::size_t skip = folder.size();
        if (!folder.empty() && folder.back() != '/') {
            ++skip;
        }
        filename_ += '\0';
        filename_ += path.substr(skip);
    }
    path_ = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    return 1;
}

int FileDialogs::ShowOpen() {
    return ShowFileDialog(Request::Kind::kOpen);
}

int FileDialogs::ShowSave() {
    return ShowFileDialog(Request::Kind::kSave);
}

int FileDialogs::Browse() {
    const Request request = MakeRequest(Request::Kind::kFolder);
    bool shown = true;
    Answer answer = Ask(request, shown);
    if (!shown) {
        return kCannotShow;
    }
    if (!answer || answer->empty() || answer->front().empty()) {
        return 0;
    }
    path_ = answer->front();
    while (path_.size() > 1 && path_.back() == '/') {
        path_.pop_back();
    }
    return 1;
}

std::vector<std::string> FileDialogs::ParseFileNames() const {
    std::vector<std::string> parts = Split(filename_, '\0');
    while (!parts.empty() && parts.back().empty()) {
        parts.pop_back();
    }
    if (parts.size() <= 1) {
        return parts;
    }
    std::vector<std::string> paths;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (!parts[i].empty()) {
            paths.push_back(Join(parts[0], parts[i]));
        }
    }
    return paths;
}

}  // namespace ferret
