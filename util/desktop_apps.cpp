#include "util/desktop_apps.h"

#include <unistd.h>

#include <QStandardPaths>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>

#include "util/app_paths.h"

namespace ferret {
namespace {

namespace fs = std::filesystem;

using KeyGroup = std::map<std::string, std::string>;
using KeyFile = std::map<std::string, KeyGroup>;

// Desktop files and association lists are a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaxKeyFileSize = 4 * 1024 * 1024;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    return parts;
}

// A path list from the environment; relative entries are not allowed there and are skipped.
std::vector<std::string> PathList(const std::string& value, const std::string& fallback) {
    std::vector<std::string> paths;
    for (std::string path : Split(value.empty() ? fallback : value, ':')) {
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        if (!path.empty() && path.front() == '/' &&
            std::find(paths.begin(), paths.end(), path) == paths.end()) {
            paths.push_back(path);
        }
    }
    return paths;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Only regular files are read: a FIFO in a data folder would block the window.
KeyFile ReadKeyFile(const std::string& path) {
    KeyFile groups;
    std::error_code error;
    if (!fs::is_regular_file(path, error) || fs::file_size(path, error) > kMaxKeyFileSize ||
        error) {
        return groups;
    }
    std::ifstream in(path, std::ios::binary);
    std::string line;
    KeyGroup* group = nullptr;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            const auto end = line.find(']');
            group = end != std::string::npos ? &groups[line.substr(1, end - 1)] : nullptr;
            continue;
        }
        const auto equals = line.find('=');
        if (group != nullptr && equals != std::string::npos) {
            // A key given twice is an error in the file; the first one is kept.
            group->emplace(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
        }
    }
    return groups;
}

std::string Value(const KeyFile& file, const std::string& group, const std::string& key) {
    const auto g = file.find(group);
    if (g == file.end()) {
        return {};
    }
    const auto v = g->second.find(key);
    return v != g->second.end() ? v->second : std::string();
}

// The key file escapes of string values; an unknown one is kept as written.
std::string Unescape(const std::string& raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
            continue;
        }
        switch (raw[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += raw[i];
        }
    }
    return out;
}

// A ";"-separated list value, "\;" standing for a ";" inside an entry.
std::vector<std::string> ListValue(const std::string& raw) {
    std::vector<std::string> items;
    std::string item;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == ';') {
            item += ';';
            ++i;
        } else if (raw[i] == ';') {
            items.push_back(Unescape(Trim(item)));
            item.clear();
        } else {
            item += raw[i];
        }
    }
    items.push_back(Unescape(Trim(item)));
    std::erase(items, std::string());
    return items;
}

// The translated value of `key` for `locale` ("lang_COUNTRY.ENCODING@MODIFIER"), trying the
// forms in the order desktop entries define, then the plain key.
std::string LocalizedValue(const KeyFile& file, const std::string& key, const std::string& locale) {
    std::string lang = locale;
    std::string modifier;
    if (const auto at = lang.find('@'); at != std::string::npos) {
        modifier = lang.substr(at);
        lang.erase(at);
    }
    if (const auto dot = lang.find('.'); dot != std::string::npos) {
        lang.erase(dot);
    }
    std::vector<std::string> forms;
    if (!lang.empty() && lang != "C" && lang != "POSIX") {
        const auto underscore = lang.find('_');
        const std::string language = lang.substr(0, underscore);
        if (underscore != std::string::npos) {
            if (!modifier.empty()) {
                forms.push_back(lang + modifier);
            }
            forms.push_back(lang);
        }
        if (!modifier.empty()) {
            forms.push_back(language + modifier);
        }
        forms.push_back(language);
    }
    for (const std::string& form : forms) {
        const std::string value = Value(file, "Desktop Entry", key + "[" + form + "]");
        if (!value.empty()) {
            return Unescape(value);
        }
    }
    return Unescape(Value(file, "Desktop Entry", key));
}

bool ProgramInstalled(const std::string& program) {
    if (program.front() == '/') {
        std::error_code error;
        return fs::is_regular_file(program, error) && access(program.c_str(), X_OK) == 0;
    }
    return !QStandardPaths::findExecutable(QString::fromStdString(program)).isEmpty();
}

// One desktop file as found in the folders; only `visible` ones are offered.
struct CatalogEntry {
    DesktopApp app;
    bool visible = false;
    std::vector<std::string> mime_types;
    std::size_t folder = 0;  // index into DesktopAppPlaces::application_dirs
};

CatalogEntry ReadEntry(const std::string& id, const std::string& path, std::size_t folder,
                       const std::string& locale) {
    const KeyFile file = ReadKeyFile(path);
    CatalogEntry entry;
    entry.folder = folder;
    entry.app.id = id;
    entry.app.file = path;
    entry.app.name = LocalizedValue(file, "Name", locale);
    if (entry.app.name.empty()) {
        entry.app.name = id.substr(0, id.size() - std::string(".desktop").size());
    }
    entry.app.exec = Unescape(Value(file, "Desktop Entry", "Exec"));
    entry.app.icon = Unescape(Value(file, "Desktop Entry", "Icon"));
    entry.app.terminal = Value(file, "Desktop Entry", "Terminal") == "true";
    entry.mime_types = ListValue(Value(file, "Desktop Entry", "MimeType"));
    const std::string try_exec = Unescape(Value(file, "Desktop Entry", "TryExec"));
    entry.visible =
        file.count("Desktop Entry") != 0 && Value(file, "Desktop Entry", "Type") == "Application" &&
        Value(file, "Desktop Entry", "Hidden") != "true" &&
        Value(file, "Desktop Entry", "NoDisplay") != "true" && !Trim(entry.app.exec).empty() &&
        (try_exec.empty() || ProgramInstalled(try_exec));
    return entry;
}

// Every desktop file id with the entry that wins for it: the one in the earliest folder.
std::map<std::string, CatalogEntry> ReadCatalog(const DesktopAppPlaces& places) {
    std::map<std::string, CatalogEntry> catalog;
    for (std::size_t folder = 0; folder < places.application_dirs.size(); ++folder) {
        const fs::path root = places.application_dirs[folder];
        std::map<std::string, std::string> found;  // id -> path, so ids are read in order
        std::error_code error;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            const fs::path& path = it->path();
            std::error_code type_error;
            if (path.extension() != ".desktop" || !it->is_regular_file(type_error)) {
                continue;
            }
            std::string id = path.lexically_relative(root).string();
            std::replace(id.begin(), id.end(), '/', '-');
            found.emplace(id, path.string());
        }
        for (const auto& [id, path] : found) {
            if (catalog.count(id) == 0) {
                catalog.emplace(id, ReadEntry(id, path, folder, places.locale));
            }
        }
    }
    return catalog;
}

}  // namespace

DesktopAppPlaces DesktopAppPlaces::FromEnvironment() {
    const std::string home = HomeFolder();
    const std::string config_home = ConfigFolder();
    const std::vector<std::string> config_dirs = PathList(Env("XDG_CONFIG_DIRS"), "/etc/xdg");
    std::string data_home = Env("XDG_DATA_HOME");
    if (data_home.empty() || data_home.front() != '/') {
        data_home = home + "/.local/share";
    }
    const std::vector<std::string> data_dirs =
        PathList(Env("XDG_DATA_DIRS"), "/usr/local/share:/usr/share");
    std::vector<std::string> desktops;
    for (std::string desktop : Split(Env("XDG_CURRENT_DESKTOP"), ':')) {
        if (!desktop.empty()) {
            std::transform(desktop.begin(), desktop.end(), desktop.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            desktops.push_back(desktop);
        }
    }

    DesktopAppPlaces places;
    const auto add_lists = [&](const std::string& folder) {
        for (const std::string& desktop : desktops) {
            places.mimeapps_lists.push_back(folder + "/" + desktop + "-mimeapps.list");
        }
        places.mimeapps_lists.push_back(folder + "/mimeapps.list");
    };
    add_lists(config_home);
    for (const std::string& folder : config_dirs) {
        add_lists(folder);
    }
    places.application_dirs.push_back(PathList(data_home, "").front() + "/applications");
    for (const std::string& folder : data_dirs) {
        const std::string applications = folder + "/applications";
        if (std::find(places.application_dirs.begin(), places.application_dirs.end(),
                      applications) == places.application_dirs.end()) {
            places.application_dirs.push_back(applications);
        }
    }
    for (const std::string& folder : places.application_dirs) {
        add_lists(folder);
    }
    places.locale = Env("LC_ALL");
    if (places.locale.empty()) {
        places.locale = Env("LC_MESSAGES");
    }
    if (places.locale.empty()) {
        places.locale = Env("LANG");
    }
    return places;
}

std::optional<DesktopApp> FindDesktopApp(const DesktopAppPlaces& places, const std::string& id) {
    const auto catalog = ReadCatalog(places);
    const auto it = catalog.find(id);
    if (it == catalog.end() || !it->second.visible) {
        return std::nullopt;
    }
    return it->second.app;
}

std::vector<DesktopApp> AppsForMimeTypes(const DesktopAppPlaces& places,
                                         const std::vector<std::string>& types) {
    const auto catalog = ReadCatalog(places);
    std::vector<KeyFile> lists;
    for (const std::string& path : places.mimeapps_lists) {
        lists.push_back(ReadKeyFile(path));
    }
    std::vector<KeyFile> caches;
    for (const std::string& folder : places.application_dirs) {
        caches.push_back(ReadKeyFile(folder + "/mimeinfo.cache"));
    }

    std::vector<DesktopApp> apps;
    std::set<std::string> listed;
    const auto add = [&](const std::string& id) {
        const auto it = catalog.find(id);
        if (it != catalog.end() && it->second.visible && listed.insert(id).second) {
            apps.push_back(it->second.app);
            return true;
        }
        return false;
    };

    [&] {
        for (const std::string& type : types) {
            for (const KeyFile& list : lists) {
                for (const std::string& id : ListValue(Value(list, "Default Applications", type))) {
                    if (add(id)) {
                        return;
                    }
                }
            }
        }
    }();

    for (const std::string& type : types) {
        std::set<std::string> removed;
        for (const KeyFile& list : lists) {
            for (const std::string& id : ListValue(Value(list, "Added Associations", type))) {
                if (removed.count(id) == 0) {
                    add(id);
                }
            }
            for (const std::string& id : ListValue(Value(list, "Removed Associations", type))) {
                removed.insert(id);
            }
        }
        for (std::size_t folder = 0; folder < caches.size(); ++folder) {
            // An id counts for the folder whose entry wins for it: an entry copied to an earlier
            // folder decides with its own MimeType.
            const auto add_from_folder = [&](const std::string& id) {
                const auto it = catalog.find(id);
                if (it != catalog.end() && it->second.folder == folder && removed.count(id) == 0) {
                    add(id);
                }
            };
            for (const std::string& id : ListValue(Value(caches[folder], "MIME Cache", type))) {
                add_from_folder(id);
            }
            // The cache may be older than the desktop files beside it.
            for (const auto& [id, entry] : catalog) {
                if (entry.folder == folder &&
                    std::find(entry.mime_types.begin(), entry.mime_types.end(), type) !=
                        entry.mime_types.end()) {
                    add_from_folder(id);
                }
            }
        }
    }
    return apps;
}

std::optional<std::vector<std::string>> SplitExecLine(const std::string& exec) {
    std::vector<std::string> args;
    std::string arg;
    bool in_arg = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (in_arg) {
                args.push_back(arg);
                arg.clear();
                in_arg = false;
            }
            continue;
        }
        in_arg = true;
        if (c == '"') {
            for (++i;; ++i) {
                if (i == exec.size()) {
                    return std::nullopt;
                }
                if (exec[i] == '"') {
                    break;
                }
                if (exec[i] == '\\' && i + 1 < exec.size() &&
                    std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
                    ++i;
                }
                arg += exec[i];
            }
        } else if (c == '\'') {
            const auto end = exec.find('\'', i + 1);
            if (end == std::string::npos) {
                return std::nullopt;
            }
            arg += exec.substr(i + 1, end - i - 1);
            i = end;
        } else if (c == '\\' && i + 1 < exec.size()) {
            arg += exec[++i];
        } else {
            arg += c;
        }
    }
    if (in_arg) {
        args.push_back(arg);
    }
    if (args.empty()) {
        return std::nullopt;
    }
    return args;
}

std::vector<std::vector<std::string>> ExecCommandLines(const DesktopApp& app,
                                                       const std::vector<std::string>& files) {
    std::optional<std::vector<std::string>> split = SplitExecLine(app.exec);
    if (!split) {
        return {};
    }
    std::vector<std::string> tokens = std::move(*split);
    // The program itself is never a field code.
    if (tokens.front().find('%') != std::string::npos) {
        return {};
    }
    bool takes_one = false;
    bool takes_list = false;
    for (const std::string& token : tokens) {
        takes_list = takes_list || token == "%F" || token == "%U";
        for (std::size_t i = 0; i + 1 < token.size(); ++i) {
            if (token[i] == '%') {
                takes_one = takes_one || token[i + 1] == 'f' || token[i + 1] == 'u';
                ++i;  // "%%f" is a "%" and an "f"
            }
        }
    }
    if (!takes_one && !takes_list) {
        tokens.push_back("%f");
        takes_one = true;
    }

    std::vector<std::string> terminal;
    if (app.terminal) {
        terminal = TerminalCommand();
        if (terminal.empty()) {
            return {};
        }
    }

    // Adds one command line to `line`; `file` is the file of a one-file line, else null.
    const auto expand = [&](const std::string* file, std::vector<std::string>& line) {
        for (const std::string& token : tokens) {
            if (token == "%F" || token == "%U") {
                if (file != nullptr) {
                    line.push_back(*file);
                } else {
                    line.insert(line.end(), files.begin(), files.end());
                }
                continue;
            }
            if (token == "%i") {
                if (!app.icon.empty()) {
                    line.push_back("--icon");
                    line.push_back(app.icon);
                }
                continue;
            }
            std::string out;
            bool had_code = false;
            for (std::size_t i = 0; i < token.size(); ++i) {
                if (token[i] != '%') {
                    out += token[i];
                    continue;
                }
                if (++i == token.size()) {
                    return false;
                }
                had_code = true;
                switch (token[i]) {
                    case 'f':
                    case 'u':
                        if (file != nullptr) {
                            out += *file;
                        }
                        break;
                    case 'c':
                        out += app.name;
                        break;
                    case 'k':
                        out += app.file;
                        break;
                    case '%':
                        out += '%';
                        break;
                    case 'd':
                    case 'D':
                    case 'n':
                    case 'N':
                    case 'v':
                    case 'm':
                        break;
                    default:  // %F, %U and %i must stand alone; other codes do not exist
                        return false;
                }
            }
            // A code that gave nothing leaves no empty argument behind.
            if (!out.empty() || !had_code) {
                line.push_back(std::move(out));
            }
        }
        return line.size() > terminal.size() && !line[terminal.size()].empty();
    };

    std::vector<std::vector<std::string>> lines;
    if (takes_one && !files.empty()) {
        for (const std::string& file : files) {
            std::vector<std::string> line = terminal;
            if (!expand(&file, line)) {
                return {};
            }
            lines.push_back(std::move(line));
        }
    } else {
        std::vector<std::string> line = terminal;
        if (!expand(nullptr, line)) {
            return {};
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> TerminalCommand() {
    static const std::pair<const char*, const char*> kTerminals[] = {
        {"x-terminal-emulator", "-e"}, {"gnome-terminal", "--"}, {"konsole", "-e"},
        {"xfce4-terminal", "-x"},      {"xterm", "-e"},
    };
    for (const auto& [program, option] : kTerminals) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(program));
        if (!found.isEmpty()) {
            return {found.toStdString(), option};
        }
    }
    return {};
}

}  // namespace ferret
