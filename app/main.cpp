// Start-up: --help and --version answer at once; any other command line is parsed by the
// program's own grammar.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include <QString>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>

#include "app/command_line.h"
#include "app/command_process.h"
#include "app/headless_view.h"
#include "app/run_driver.h"
#include "app/signal_stop.h"
#include "app/undo_command.h"
#include "reports/quoted_name.h"
#include "settings/app_settings.h"
#include "settings/error_log.h"
#ifdef FERRET_WINDOW_PROGRAM
#include <QApplication>
#include <QIcon>

#include "app/color_scheme.h"
#include "app/main_window.h"
#include "app/session_bus.h"
#endif
#include "ferret_version.h"

namespace {

constexpr const char kHelp[] =
    R"(Usage: ferret [switches]
       ferret FILE.frs
Finds files by name, size and date, and finds or replaces text inside them.
Without switches the window opens. With switches the run is unattended.
A saved search (FILE.frs, or -config FILE without -e, -l and -x) opens in the
window without running.

Switches (each starts with "-"; a value holding "-" or a quote is quoted):
  -p FOLDER        start folder (default: the folder used last)
  -k MASK          file mask, patterns separated by ";" (as "*.htm;*.html")
  -s TEXT          search text: each character stands for itself unless -rx
  -r TEXT          replacement text; "$&" puts in the text found and "$$" a "$"
                   (with -rx "$1" and so on put in the groups), plain text too
  -e:search        run a search
  -e:replace       run a replace (needs -s and -r)
  -b               include subfolders
  -i               ignore case
  -w               whole words only: a hit starts and ends at a word's bounds,
                   as "\b" on both sides of a pattern (a word is ASCII letters,
                   digits and "_"; "cat" is not found in "concat" or "cats")
  -rx              the search text is a regular expression
  -skip LIST       folders never entered: names or patterns separated by ";" (as
                   "node_modules;build;.venv;__pycache__"), case ignored
  -gitignore       leave out what .gitignore (inside a git repository), .ignore,
                   the repository's info/exclude and git's global excludes file
                   leave out, as git does; ignored folders are not entered
  -nobinary        leave out binary files (a NUL byte in their first 64 KiB, not
                   UTF-16 with a mark): not searched, not listed, not replaced;
                   the report counts them
  -z               search inside archives and compressed files (zip, tar, 7z,
                   cpio; .gz .bz2 .xz .zst), each entry a file of the list named
                   ARCHIVE//PATH, the mask and the size limit applied to entries;
                   and PDFs, page by page. Nothing inside is ever written: a
                   replace run tells each entry and PDF with hits as not done
  -enc NAME        read every file without a byte-order mark in the encoding
                   NAME (as "ISO-8859-1", "KOI8-R", "SHIFT_JIS"; "iconv -l"
                   lists them), rather than each in its own (see below)
  -config FILE     take the search from a saved search file (.frs); -p -k -s -r
                   -b -i -w -rx are then not used (-skip -gitignore -nobinary
                   -z add)
  -l FILE          write the report (summary with file list) to FILE
  -hits FILE       write each line with hits as "PATH:LINE:COLUMN: TEXT" (what
                   vim -q and editors read) to FILE; "-hits -" to standard
                   output. Lines end at LF; COLUMN is the 1-based byte offset
                   of the first hit in the line, as grep and ripgrep give it.
                   A replace run lists its new text.
  -json FILE       write each hit as a JSON object on a line of its own (path,
                   line, byte column, start and end in the line, the line's
                   text; a name that is not UTF-8 as "path_bytes" in base64),
                   then each file with hits or a problem, then a summary;
                   "-json -" to standard output
  -diff FILE       with -e:replace: change no file, but write the changes as a
                   patch to FILE ("-diff -" to standard output), to apply with
                   "patch -p0" or "git apply -p0" in the start folder
  -m               start with the window minimised
  -x               exit when the run is done
  -undo            undo the last replace run (from its restore point)
  -undo ID         undo the replace run of restore point ID
  -undo list       list the replace runs that can be undone, newest first
  --help           show this help and exit
  --version        show the version and exit

Flags count only as written: lower case, on their own.
Search texts may use ^^CrLf (line break), ^^Tab (tab) and ^^Blank (empty).

Names from disk: -hits, the report and the lines on standard error write a name
as it is unless it holds a control character (or begins with '"'); then it is
written in double quotes with C escapes (\t, \n, \r, \033, \", \\), so each
line is one entry. -diff quotes names as "git diff" does. A hit line's text
keeps its tabs; its other control characters are escaped the same way.

Encodings: a file is searched as text in its encoding, and hits, lines and
columns are those of its text in UTF-8. A byte-order mark names the encoding
(UTF-8, UTF-16). Otherwise a file whose first 64 KiB (or, when those are
plain ASCII, the 64 KiB from its first byte beyond ASCII) are UTF-8 or hold a
NUL byte is searched as its bytes; any other file's encoding is guessed from
those 64 KiB (windows-1252, ISO-8859-2, windows-1251, KOI8-R,
Shift_JIS, EUC-JP, GB18030, Big5, EUC-KR and more), and when no guess is sure
it is the setting "LegacyEncoding" (windows-1252). -enc, or the setting
"TextEncoding" (Tools > Options), names one encoding for every file without a
mark. A replace run writes a file in its own encoding, every byte outside the
hits as it was; a replacement the encoding cannot hold, or a file that is not
valid in its encoding, leaves the file as it was and is told. -diff names a
file in a legacy encoding as binary: a patch is one text, in UTF-8.

A replace run rewrites only files whose extension is approved (Tools > Options
in the window, or the setting "ext_list"); files without an extension count
as approved. It rewrites only files beneath its start folder: a link that
leads out of it, the user's own included, is searched through but never
rewritten through, and the file is told. Each file is replaced in one step by a complete new copy that
keeps its permissions, owner and extended attributes; on any failure the file
stays as it was and counts as -1. Before a file is replaced its original is
kept in a restore point (Tools > Options: folder and how many are kept; 0
keeps none); a replace run that cannot make one replaces nothing. Undo puts
back only files that still hold what the run wrote.

SIGINT (Ctrl+C) and SIGTERM stop a run as the Stop button does: the file being
rewritten is finished or left as it was, the report is written with what was
done, and the exit status is 130 (SIGINT) or 143 (SIGTERM). A second signal,
a second or more later, ends the program at once.

Exit status: 0 when the run was done (or none was asked for); 1 when it ended
but some files could not be listed, read or rewritten (each is told on standard
error as "ferret: not done: PATH: REASON"); 2 when the saved
search, the start folder or the report file could not be read or written, a
replace run lacks its search or replacement text, the search text is a regular
expression that cannot be used (nothing is searched), or no restore point could
be made; 130 or 143 when a signal stopped a run that had no such failure. -undo: 0
when every file was restored, 1 when some had changed since the run and were
left as they are, 2 when there was nothing to undo.

Examples:
  ferret -p ~/site -k "*.htm;*.html" -s "Copyright 2025" -e:search -b -l report.txt -x
  ferret -p ~/site -k "*.html" -s "old-host" -r "new-host" -e:replace -b -x
  ferret -config ~/searches/links.frs -e:search -x
  ferret -p ~/src -k "*.c;*.h" -b -s "PATH_MAX" -e:search -hits - -x > hits.txt
  vim -q hits.txt
  ferret -p ~/site -k "*.html" -b -s "http:" -r "https:" -e:replace -diff - -x | less
)";

// Deep trees hold one open folder per level during a walk.
void RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// QT_QPA_PLATFORM does not count: scripts set "offscreen", where a message box would wait for
// an answer that nobody can give.
bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

// The saved search to open in the window without running it: "-config FILE" with nothing that
// asks for a run, a report or an exit, or the one ".frs" file a file manager hands over when the
// user opens it. Empty when the command line is an unattended run.
std::string SavedSearchToOpen(const std::vector<std::string>& arguments,
                              const ferret::CommandLine& command_line) {
    if (arguments.size() == 1) {
        const std::string& path = arguments.front();
        struct stat info {};
        if (QString::fromStdString(path).endsWith(QStringLiteral(".frs"), Qt::CaseInsensitive) &&
            stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            return path;
        }
    }
    if (!command_line.ConfigFile().empty() && command_line.ProcessType().empty() &&
        command_line.LogPath().empty() && !command_line.ExitOnComplete()) {
        return command_line.ConfigFile();
    }
    return {};
}

#ifdef FERRET_WINDOW_PROGRAM
// The window, with the unattended run (when there are switches) on a thread of its own so the
// window stays live; it closes when the run is done if -x asks for it.
int RunWithWindow(int argc, char** argv, const ferret::CommandLine& command_line,
                  const std::string& saved_search, ferret::SignalStop* stop_signals,
                  std::atomic<ferret::RunDriver*>& signalled_driver) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferret"));
    QApplication::setOrganizationName(QStringLiteral("Mallo"));
    // Lets the desktop match the window to the installed entry and its icon.
    QApplication::setDesktopFileName(QStringLiteral("org.mallo.Ferret"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("ferret")));
    // Before the window, so that it opens in its colours.
    ferret::ColorScheme colors(ferret::DesktopSessionBus());
    ferret::MainWindow window;
    window.on_options_saved = [&colors] { colors.Reload(); };
    if (!command_line.HasArguments()) {
        window.show();
        return QApplication::exec();
    }
    if (command_line.RunMinimized()) {
        window.showMinimized();
    } else {
        window.show();
    }
    if (!saved_search.empty()) {
        window.LoadSearchFile(saved_search);
        return QApplication::exec();
    }
    signalled_driver.store(&window.Driver());
    if (stop_signals != nullptr && stop_signals->Received() != 0) {
        window.Driver().Cancel();
    }
    std::atomic<int> status{0};
    window.RunUnattended(command_line, status);
    const int loop = QApplication::exec();
    window.WaitForRun();
    signalled_driver.store(nullptr);
    return status.load() != 0 ? status.load() : loop;
}
#else
// The window lives in a program of its own, so that runs without one load none of the window
// libraries (they take longer to load than a small search takes). This one gives way to it with
// the same arguments; it lies beside this one in the build and in lib/ferret/ when installed.
int HandOverToWindow(char** argv) {
    char exe[4096];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length > 0) {
        std::string folder(exe, static_cast<std::size_t>(length));
        folder.erase(folder.rfind('/') + 1);
        for (const std::string& candidate :
             {folder + "ferret-window", folder + "../lib/ferret/ferret-window"}) {
            if (access(candidate.c_str(), X_OK) == 0) {
                execv(candidate.c_str(), argv);
            }
        }
    }
    std::fputs(
        "ferret: the window program (ferret-window) cannot be started; runs from the command "
        "line work without a display (see 'ferret --help')\n",
        stderr);
    return 2;
}
#endif

// A run without a window: unattended, its messages and progress on standard error.
int RunWithoutWindow(const ferret::CommandLine& command_line, const std::string& saved_search,
                     ferret::SignalStop* stop_signals,
                     std::atomic<ferret::RunDriver*>& signalled_driver) {
    if (!saved_search.empty()) {
        std::fprintf(stderr,
                     "ferret: there is no display to open the saved search '%s' on; add "
                     "-e:search -x to run it without a window (see 'ferret --help')\n",
                     ferret::EscapedText(saved_search).c_str());
        return 2;
    }
    if (!command_line.HasArguments()) {
        std::fputs(
            "ferret: there is no display to open the window on; see 'ferret --help' for "
            "runs from the command line\n",
            stderr);
        return 2;
    }
    ferret::HeadlessView view(isatty(STDERR_FILENO) == 1);
    ferret::RunDriver driver(view);
    signalled_driver.store(&driver);
    if (stop_signals && stop_signals->Received() != 0) {
        driver.Cancel();
    }
    ferret::SearchFields fields = ferret::LoadStartupFields();
    driver.RefreshSettings(ferret::ReadAppSettings(), false);
    const int status = ferret::CommandProcess(command_line, driver, view, fields);
    signalled_driver.store(nullptr);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    for (const std::string& argument : arguments) {
        if (argument == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("ferret %s\n", FERRET_VERSION);
            return 0;
        }
    }
    RaiseOpenFileLimit();
    // A report written into a closed pipe is an error to report, not a reason to die.
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit makes a write fail (and the file stay as it was) instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);

    const ferret::CommandLine command_line(ferret::CommandLine::RebuildCommandLine(arguments));
    if (command_line.LogFailed()) {
        const ferret::UserMessage told = ferret::LogFailureMessage();
        std::fprintf(stderr, "ferret: %s: %s\n", told.title.c_str(), told.text.c_str());
    }
    // Undoing needs no window, whether there is a display or not.
    if (command_line.Undo()) {
        return ferret::UndoCommand(command_line.UndoTarget(), stdout, stderr);
    }
    const bool display = HasDisplay();
#ifndef FERRET_WINDOW_PROGRAM
    if (display) {
        return HandOverToWindow(argv);
    }
#endif
    const std::string saved_search = SavedSearchToOpen(arguments, command_line);
    // An unattended run that ends the program stops on SIGINT and SIGTERM as on the Stop
    // button, so no file is left half done and the report is written. Set up before any thread.
    const bool runs =
        command_line.ProcessType() == "search" || command_line.ProcessType() == "replace";
    std::atomic<ferret::RunDriver*> signalled_driver{nullptr};
    std::optional<ferret::SignalStop> stop_signals;
    if (runs && saved_search.empty() && (!display || command_line.ExitOnComplete())) {
        stop_signals.emplace([&signalled_driver] {
            if (ferret::RunDriver* driver = signalled_driver.load()) {
                driver->Cancel();
            }
        });
    }
#ifdef FERRET_WINDOW_PROGRAM
    if (display) {
        const int status = RunWithWindow(argc, argv, command_line, saved_search,
                                         stop_signals ? &*stop_signals : nullptr, signalled_driver);
        return stop_signals ? stop_signals->ExitStatus(status) : status;
    }
#endif
    const int status = RunWithoutWindow(command_line, saved_search,
                                        stop_signals ? &*stop_signals : nullptr, signalled_driver);
    return stop_signals ? stop_signals->ExitStatus(status) : status;
}
