#include "settings/settings.h"

#include <charconv>

#include "settings/registry.h"
#include "util/app_paths.h"

namespace ferret {

std::string GetSettingValue(const std::string& keyPath, const std::string& valueName,
                            const std::string& defaultText) {
    try {
        Registry registry;
        registry.SetClassKey(kHKeyCurrentUser);
        registry.SetSectionKey(keyPath);
        if (!registry.KeyExists()) {
            return defaultText;
        }
        registry.SetValueKey(valueName);
        const std::string text = RegistryValueText(registry.Value());
        return text.empty() ? defaultText : text;
    } catch (...) {
        // Readers run inside handlers that must not fail themselves.
        return {};
    }
}

Status SaveSettingValue(const std::string& keyPath, const std::string& valueName,
                        const std::string& text) {
    Registry registry;
    registry.SetClassKey(kHKeyCurrentUser);
    registry.SetSectionKey(keyPath);
    if (!registry.KeyExists()) {
        if (Status created = registry.CreateKey(); !created.ok()) {
            return created;
        }
    }
    registry.SetValueType(kRegString);
    registry.SetValueKey(valueName);
    return registry.SetValue(text);
}

std::string SettingDefault(std::string_view name) {
    struct Entry {
        std::string_view name;
        std::string_view text;
    };
    static constexpr Entry kDefaults[] = {
        {kFileFilterMask, "none"}, {kReportType, "0"},          {kFerretHeight, "-1"},
        {kFerretWidth, "-1"},      {kFerretTop, "-1"},          {kFerretLeft, "-1"},
        {kSearchSubfolders, "1"},  {kAutoReportUpdate, "True"}, {kDisplayQuickLinks, "False"},
        {kLogging, "False"},       {kFileHandlerWord, "False"}, {kFileHandlerExcel, "False"},
        {kPreviewFontSize, "10"},  {kRestoreQuantity, "10"},    {kHitLineContext, "0"},
    };
    // Linux programs do not keep user files beside their binary, so the start folder is home.
    if (name == kStartupFolder) {
        return HomeFolder();
    }
    if (name == kRestoreFolder) {
        return DataFilePath("restore");
    }
    for (const Entry& entry : kDefaults) {
        if (entry.name == name) {
            return std::string(entry.text);
        }
    }
    return {};
}

bool IsTrue(const std::string& text) {
    return text == "True";
}

int SettingAsInt(const std::string& text, int fallback) {
    std::size_t begin = text.find_first_not_of(" \t");
    const std::size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos) {
        return fallback;
    }
    if (text[begin] == '+' && begin < end && text[begin + 1] != '-') {
        ++begin;  // from_chars takes "-" but not "+"
    }
    int value = 0;
    const char* last = text.data() + end + 1;
    const auto [stop, error] = std::from_chars(text.data() + begin, last, value);
    return error == std::errc() && stop == last ? value : fallback;
}

std::string RestoreFolderSetting() {
    return GetSettingValue(kSettingsKey, kRestoreFolder, SettingDefault(kRestoreFolder));
}

int RestoreQuantitySetting() {
    const int quantity = SettingAsInt(
        GetSettingValue(kSettingsKey, kRestoreQuantity, SettingDefault(kRestoreQuantity)), 10);
    return quantity < -1 ? -1 : quantity;
}

}  // namespace ferret
