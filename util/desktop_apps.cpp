#include "util/desktop_apps.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <algorithm>
#include <memory>
#include <set>

namespace ferret {
namespace {

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, Unref>;

struct ListFree {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using AppList = std::unique_ptr<GList, ListFree>;

DesktopApp Describe(GAppInfo* info) {
    DesktopApp app;
    if (const char* id = g_app_info_get_id(info)) {
        app.id = id;
    }
    if (const char* name = g_app_info_get_name(info)) {
        app.name = name;
    }
    // A theme name, or the file an entry names.
    if (GIcon* icon = g_app_info_get_icon(info); icon != nullptr && G_IS_THEMED_ICON(icon)) {
        const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
        if (names != nullptr && names[0] != nullptr) {
            app.icon = names[0];
        }
    } else if (icon != nullptr && G_IS_FILE_ICON(icon)) {
        if (gchar* path = g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon)))) {
            app.icon = path;
            g_free(path);
        }
    }
    return app;
}

// Adds the shown applications of `list` not listed yet.
void Add(GList* list, std::vector<DesktopApp>& apps, std::set<std::string>& seen) {
    for (GList* item = list; item != nullptr; item = item->next) {
        auto* info = static_cast<GAppInfo*>(item->data);
        if (!g_app_info_should_show(info) || g_app_info_get_id(info) == nullptr) {
            continue;
        }
        if (seen.insert(g_app_info_get_id(info)).second) {
            apps.push_back(Describe(info));
        }
    }
}

}  // namespace

std::vector<DesktopApp> AppsForType(const std::string& type) {
    std::vector<DesktopApp> apps;
    std::set<std::string> seen;
    if (type.empty()) {
        return apps;
    }
    if (AppInfo fallback{g_app_info_get_default_for_type(type.c_str(), FALSE)}) {
        GList one = {fallback.get(), nullptr, nullptr};
        Add(&one, apps, seen);
    }
    const AppList recommended{g_app_info_get_recommended_for_type(type.c_str())};
    Add(recommended.get(), apps, seen);
    const AppList all{g_app_info_get_all_for_type(type.c_str())};
    Add(all.get(), apps, seen);
    return apps;
}

std::optional<AppCommand> DefaultAppCommand(const std::string& type) {
    const AppInfo info{g_app_info_get_default_for_type(type.c_str(), FALSE)};
    if (!info) {
        return std::nullopt;
    }
    AppCommand command;
    if (const char* program = g_app_info_get_executable(info.get())) {
        command.program = program;
    }
    if (const char* line = g_app_info_get_commandline(info.get())) {
        command.command_line = line;
    }
    if (command.program.empty()) {
        return std::nullopt;
    }
    return command;
}

std::vector<DesktopApp> AllApps() {
    std::vector<DesktopApp> apps;
    std::set<std::string> seen;
    const AppList all{g_app_info_get_all()};
    Add(all.get(), apps, seen);
    std::sort(apps.begin(), apps.end(), [](const DesktopApp& a, const DesktopApp& b) {
        return g_utf8_collate(a.name.c_str(), b.name.c_str()) < 0;
    });
    return apps;
}

std::string LaunchApp(const std::string& id, const std::vector<std::string>& paths) {
    GDesktopAppInfo* desktop = g_desktop_app_info_new(id.c_str());
    if (desktop == nullptr) {
        return "it is not installed";
    }
    const AppInfo info{G_APP_INFO(desktop)};
    GList* files = nullptr;
    for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
        files = g_list_prepend(files, g_file_new_for_path(path->c_str()));
    }
    GError* error = nullptr;
    const gboolean started = g_app_info_launch(info.get(), files, nullptr, &error);
    g_list_free_full(files, g_object_unref);
    if (started) {
        return {};
    }
    std::string why = error != nullptr ? error->message : "it could not be started";
    g_clear_error(&error);
    return why;
}

}  // namespace ferret
