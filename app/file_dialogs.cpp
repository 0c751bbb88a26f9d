#include "app/file_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QStringList>

namespace ferret {
namespace {

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

}  // namespace

FileDialogs::Hook FileDialogs::SetTestHook(Hook hook) {
    Hook previous = std::move(TestHook());
    TestHook() = std::move(hook);
    return previous;
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
                                                   : QFileDialog::ExistingFile);
    if (!request.name_filters.empty()) {
        QStringList filters;
        for (const std::string& filter : request.name_filters) {
            filters << QString::fromStdString(filter);
        }
        dialog.setNameFilters(filters);
    }
    dialog.setDefaultSuffix(QString::fromStdString(request.default_suffix));
    if (dialog.exec() == QDialog::Accepted) {
        for (const QString& path : dialog.selectedFiles()) {
            chosen.push_back(path.toStdString());
        }
    }
    return chosen;
}

// The one path the user chose; empty when cancelled or no dialog can be shown.
std::string Ask(const FileDialogs::Request& request, QWidget* owner) {
    FileDialogs::Answer answer;
    if (TestHook()) {
        answer = TestHook()(request);
    } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        answer = Show(request, owner);
    }
    return answer && !answer->empty() ? answer->front() : std::string();
}

}  // namespace

std::string FileDialogs::OpenFile(QWidget* owner, const std::string& title,
                                  const std::string& filter) {
    Request request;
    request.title = title;
    request.name_filters = NameFilters(filter);
    return Ask(request, owner);
}

std::string FileDialogs::SaveFile(QWidget* owner, const std::string& title,
                                  const std::string& filter, const std::string& suffix) {
    Request request;
    request.kind = Request::Kind::kSave;
    request.title = title;
    request.name_filters = NameFilters(filter);
    request.default_suffix = suffix;
    std::string path = Ask(request, owner);
    const std::size_t slash = path.rfind('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    if (!path.empty() && !suffix.empty() && path.find('.', name) == std::string::npos) {
        path += "." + suffix;
    }
    return path;
}

std::string FileDialogs::ChooseFolder(QWidget* owner, const std::string& title,
                                      const std::string& start) {
    Request request;
    request.kind = Request::Kind::kFolder;
    request.title = title;
    request.folder = start;
    std::string path = Ask(request, owner);
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace ferret
