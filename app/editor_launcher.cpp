#include "app/editor_launcher.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUtf8StringView>
#include <vector>

#include "app/message_boxes.h"
#include "settings/error_log.h"
#include "util/desktop_apps.h"

namespace ferret {
namespace {

constexpr char kLabel[] = "frmMain: OpenInEditor";
constexpr char kStartError[] = "53";  // "File not found", as for other programs that do not start

}  // namespace

std::string EditorCommand(const AppSettings& settings) {
    if (QString::fromStdString(settings.editor_command).trimmed().isEmpty()) {
        return DefaultEditorCommand(
            DefaultAppCommand("text/plain"),
            !QStandardPaths::findExecutable(QStringLiteral("x-terminal-emulator")).isEmpty());
    }
    return settings.editor_command;
}

std::string StartEditor(const std::string& command, const EditorPlace& place) {
    const std::vector<std::string> arguments = EditorArguments(command, place);
    if (arguments.empty() || arguments.front().empty()) {
        return "The editor command names no program";
    }
    // A program gets its arguments through QString: a name that is not UTF-8 would arrive
    // changed, and the editor would open another file.
    QStringList words;
    for (const std::string& argument : arguments) {
        if (!QUtf8StringView(argument).isValidUtf8()) {
            return "The name of " + place.path +
                   " is not valid UTF-8, so it cannot be handed to the editor unchanged";
        }
        words << QFile::decodeName(QByteArray::fromStdString(argument));
    }
    QProcess process;
    process.setProgram(words.takeFirst());
    process.setArguments(words);
    if (process.startDetached()) {
        return {};
    }
    const std::string why = process.errorString().toStdString();
    return "\"" + arguments.front() + "\" could not be started" +
           (why.empty() || why == "Unknown error" ? "" : " (" + why + ")");
}

bool OpenInEditor(QWidget* owner, const EditorPlace& place) {
    const std::string command = EditorCommand(ReadAppSettings());
    const std::string why = StartEditor(command, place);
    if (why.empty()) {
        return true;
    }
    const std::string text = why + ".\n\nThe editor command is \"" + command +
                             "\"; you can change it in Tools > Options.";
    if (!LogError(kLabel, kStartError, text)) {
        OpenMessageBox(owner, LogFailureMessage());
    }
    OpenMessageBox(owner, {text, "Open in Editor", MessageIcon::kWarning});
    return false;
}

}  // namespace ferret
