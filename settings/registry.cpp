#include "settings/registry.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "util/app_paths.h"

namespace ferret {
namespace {

constexpr char kSource[] = "ferret.cRegistry";

// A value of this name marks a group made by CreateKey (or emptied by a delete), so that it
// exists while it holds nothing else. Value names with "/" or "\" are refused anyway, as QSettings
// would read them as groups; "." is refused with them and never listed.
constexpr char kKeyMarker[] = ".";

struct KeyFile {
    std::string folder;  // ConfigFolder()/<Folder>
    QString file;        // <folder>/<File>.conf
    QStringList groups;  // path components below the file's key
};

std::optional<KeyFile> Locate(const std::string& machine, std::int32_t class_key,
                              const std::string& path) {
    if (!machine.empty() || class_key != kHKeyCurrentUser) {
        return std::nullopt;
    }
    const QStringList parts = QString::fromStdString(path).split(QLatin1Char('\\'));
    if (parts.size() < 3 || parts[0].compare(QLatin1String("SOFTWARE"), Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") ||
            part.contains(QLatin1Char('/'))) {
            return std::nullopt;
        }
    }
    KeyFile where;
    where.folder = ConfigFolder() + "/" + parts[1].toStdString();
    where.file =
        QString::fromStdString(where.folder) + QLatin1Char('/') + parts[2] + QLatin1String(".conf");
    where.groups = parts.mid(3);
    return where;
}

bool ValidValueName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(kKeyMarker) &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// `wanted` as spelt in `names`: the exact name, else the first one equal ignoring case.
std::optional<QString> MatchName(const QStringList& names, const QString& wanted) {
    if (names.contains(wanted)) {
        return wanted;
    }
    for (const QString& name : names) {
        if (name.compare(wanted, Qt::CaseInsensitive) == 0) {
            return name;
        }
    }
    return std::nullopt;
}

// QSettings keeps parsed files in a process-wide cache and parses a file again only when its size
// or time changes, so a second look at a damaged file no longer reports FormatError. The states
// (size and time) of files found damaged are kept here: such a file stays refused until it changes.
std::mutex damaged_mutex;
std::map<QString, std::pair<qint64, QDateTime>> damaged_files;  // protected by damaged_mutex

// Whether the file holds a serialized value ("@Variant(...)"), which this store never writes:
// QSettings would unpack it with QDataStream, where a damaged length asks for gigabytes.
bool HoldsSerializedValue(const QString& file) {
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly)) {
        return false;  // QSettings says what is wrong with it
    }
    while (!input.atEnd()) {
        const QByteArray line = input.readLine();
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) {
            continue;
        }
        QByteArray value = line.mid(equals + 1).trimmed();
        if (value.startsWith('"')) {
            value.remove(0, 1);
        }
        if (value.startsWith("@Variant(")) {
            return true;
        }
    }
    return false;
}

// Null when the file cannot be read or parsed: writing would replace it with the part QSettings
// understood, and reading would give a partial view.
std::unique_ptr<QSettings> OpenSettings(const QString& file) {
    const QFileInfo info(file);
    const std::pair state(info.size(), info.lastModified());
    if (HoldsSerializedValue(file)) {
        std::lock_guard lock(damaged_mutex);
        damaged_files[file] = state;
        return nullptr;
    }
    auto settings = std::make_unique<QSettings>(file, QSettings::IniFormat);
    std::lock_guard lock(damaged_mutex);
    if (settings->status() == QSettings::FormatError) {
        damaged_files[file] = state;
        return nullptr;
    }
    if (settings->status() != QSettings::NoError) {
        return nullptr;
    }
    if (const auto damaged = damaged_files.find(file); damaged != damaged_files.end()) {
        if (damaged->second == state) {
            return nullptr;
        }
        damaged_files.erase(damaged);
    }
    return settings;
}

// The key's file for reading; null when it is missing.
std::unique_ptr<QSettings> OpenFile(const std::optional<KeyFile>& where) {
    if (!where || !QFileInfo(where->file).isFile()) {
        return nullptr;
    }
    return OpenSettings(where->file);
}

// The key's file for writing, its folder created on demand.
std::unique_ptr<QSettings> OpenFileForWrite(const std::optional<KeyFile>& where) {
    if (!where || !MakePath(where->folder, 0700).ok()) {
        return nullptr;
    }
    return OpenSettings(where->file);
}

bool Sync(QSettings& settings) {
    settings.sync();
    return settings.status() == QSettings::NoError;
}

// Enters the groups level by level. A missing level fails unless `create` is set; then it is
// entered under its given name and marked.
bool EnterGroups(QSettings& settings, const QStringList& groups, bool create) {
    for (const QString& group : groups) {
        if (const auto found = MatchName(settings.childGroups(), group)) {
            settings.beginGroup(*found);
            continue;
        }
        if (!create) {
            return false;
        }
        settings.beginGroup(group);
        settings.setValue(QLatin1String(kKeyMarker), QString());
    }
    return true;
}

// A registry key outlives its last value and subkey; a group in the file would not.
void KeepEmptyGroup(QSettings& settings) {
    if (!settings.group().isEmpty() && settings.childKeys().isEmpty() &&
        settings.childGroups().isEmpty()) {
        settings.setValue(QLatin1String(kKeyMarker), QString());
    }
}

// QSettings writes nothing for a key without values, so the file's own key is an empty file.
bool CreateEmptyFile(const QString& file) {
    if (QFileInfo::exists(file)) {
        return true;
    }
    const int fd = open(file.toStdString().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno == EEXIST;
    }
    close(fd);
    return true;
}

// The platform stores a text as an expandable string when it holds a "%" and another "%" at
// least two characters later.
bool IsExpandable(const std::string& text) {
    const std::size_t first = text.find('%');
    return first != std::string::npos && text.find('%', first + 2) != std::string::npos;
}

// Replaces each %NAME% whose variable is set. For an unset name only its "%" is kept and the
// scan goes on after it, as the platform's expansion does.
std::string ExpandVariables(const std::string& text) {
    std::string expanded;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] != '%') {
            expanded += text[at++];
            continue;
        }
        const std::size_t close = text.find('%', at + 1);
        if (close != std::string::npos && close > at + 1) {
            const std::string name = text.substr(at + 1, close - at - 1);
            if (const char* value = std::getenv(name.c_str()); value != nullptr) {
                expanded += value;
                at = close + 1;
                continue;
            }
        }
        expanded += '%';
        ++at;
    }
    return expanded;
}

// The stored value before expansion; none for what this store cannot read.
std::optional<RegistryValue> FromStored(const QVariant& stored) {
    std::string text;
    switch (stored.typeId()) {
        case QMetaType::QByteArray:
            return RegistryValue(stored.toByteArray());
        case QMetaType::QString:
            text = stored.toString().toStdString();
            break;
        case QMetaType::QStringList:
            // A hand-edited line with commas outside quotes; it was meant as one text.
            text = stored.toStringList().join(QLatin1Char(',')).toStdString();
            break;
        default:
            // Values this process wrote keep their type in QSettings' cache; the file has text.
            if (!stored.isValid() || !stored.canConvert<QString>()) {
                return std::nullopt;
            }
            text = stored.toString().toStdString();
            break;
    }
    return RegistryValue(std::move(text));
}

RegistryValue Expanded(RegistryValue value) {
    if (auto* text = std::get_if<std::string>(&value); text != nullptr && IsExpandable(*text)) {
        *text = ExpandVariables(*text);
    }
    return value;
}

}  // namespace

std::string RegistryValueText(const RegistryValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        return std::to_string(*number);
    }
    const QByteArray& bytes = std::get<QByteArray>(value);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void Registry::SetMachine(const std::string& name) {
    if (name.size() < 3) {
        machine_.clear();
    } else {
        machine_ = name.starts_with("\\\\") ? name : "\\\\" + name;
    }
}

std::string Registry::RootText() const {
    return std::to_string(class_key_);
}

bool Registry::KeyExists() const {
    const auto where = Locate(machine_, class_key_, section_key_);
    const auto settings = OpenFile(where);
    return settings != nullptr && EnterGroups(*settings, where->groups, false);
}

Status Registry::CreateKey() {
    const Status failed =
        Status::Error(kRegistryError, "Failed to create registry Key: '" + section_key_, kSource);
    const auto where = Locate(machine_, class_key_, section_key_);
    const auto settings = OpenFileForWrite(where);
    if (settings == nullptr || !CreateEmptyFile(where->file)) {
        return failed;
    }
    EnterGroups(*settings, where->groups, true);
    return Sync(*settings) ? Status() : failed;
}

Status Registry::DeleteKey() {
    const Status failed = Status::Error(
        kRegistryError,
        "Failed to delete registry Key: '" + RootText() + "',Section: '" + section_key_, kSource);
    const auto where = Locate(machine_, class_key_, section_key_);
    const auto settings = OpenFile(where);
    if (settings == nullptr) {
        return failed;
    }
    if (where->groups.isEmpty()) {
        return unlink(where->file.toStdString().c_str()) == 0 ? Status() : failed;
    }
    const QStringList parents = where->groups.first(where->groups.size() - 1);
    if (!EnterGroups(*settings, parents, false)) {
        return failed;
    }
    const auto name = MatchName(settings->childGroups(), where->groups.last());
    if (!name) {
        return failed;
    }
    settings->remove(*name);
    KeepEmptyGroup(*settings);
    return Sync(*settings) ? Status() : failed;
}

Status Registry::DeleteValue() {
    const std::string key = "'" + RootText() + "',Section: '" + section_key_;
    const auto where = Locate(machine_, class_key_, section_key_);
    const auto settings = OpenFile(where);
    if (settings == nullptr || !EnterGroups(*settings, where->groups, false)) {
        return Status::Error(kRegistryError, "Failed to open key " + key + "' for delete access",
                             kSource);
    }
    const Status failed = Status::Error(
        kRegistryError, "Failed to delete registry Key: " + key + "',Key: '" + value_key_, kSource);
    const QString wanted = QString::fromStdString(value_key_);
    const auto name =
        ValidValueName(wanted) ? MatchName(settings->childKeys(), wanted) : std::nullopt;
    if (!name) {
        return failed;
    }
    settings->remove(*name);
    KeepEmptyGroup(*settings);
    return Sync(*settings) ? Status() : failed;
}

RegistryValue Registry::Value() const {
    const auto where = Locate(machine_, class_key_, section_key_);
    const auto settings = OpenFile(where);
    if (settings == nullptr || !EnterGroups(*settings, where->groups, false)) {
        return default_;
    }
    const QString wanted = QString::fromStdString(value_key_);
    const auto name =
        ValidValueName(wanted) ? MatchName(settings->childKeys(), wanted) : std::nullopt;
    if (!name) {
        return default_;
    }
    const std::optional<RegistryValue> stored = FromStored(settings->value(*name));
    return stored ? Expanded(*stored) : default_;
}

Status Registry::SetValue(const RegistryValue& value) {
    const Status failed = Status::Error(
        kRegistryError,
        "Failed to set registry value Key: '" + RootText() + "',Section: '" + section_key_ +
            "',Key: '" + value_key_ + "' to value: '" + RegistryValueText(value) + "'",
        kSource);
    QVariant stored;
    switch (value_type_) {
        case kRegString:
        case kRegExpandString:
            // Whether the text is expandable follows from its "%" signs when it is read.
            stored = QString::fromStdString(RegistryValueText(value));
            break;
        case kRegBinary:
            if (!std::holds_alternative<QByteArray>(value)) {
                return failed;
            }
            stored = std::get<QByteArray>(value);
            break;
        case kRegNumber:
        case kRegNumberBigEndian:
            if (!std::holds_alternative<std::int32_t>(value)) {
                return failed;
            }
            stored = std::get<std::int32_t>(value);
            break;
        default:
            return failed;
    }
    const QString wanted = QString::fromStdString(value_key_);
    if (!ValidValueName(wanted)) {
        return failed;
    }
    const auto where = Locate(machine_, class_key_, section_key_);
    const auto settings = OpenFileForWrite(where);
    if (settings == nullptr) {
        return failed;
    }
    EnterGroups(*settings, where->groups, true);
    settings->setValue(MatchName(settings->childKeys(), wanted).value_or(wanted), stored);
    return Sync(*settings) ? Status() : failed;
}

Status Registry::EnumerateValues(std::vector<std::string>* names) const {
    names->clear();
    const auto where = Locate(machine_, class_key_, section_key_);
    const auto settings = OpenFile(where);
    if (settings == nullptr || !EnterGroups(*settings, where->groups, false)) {
        return Status::Error(kRegistryError,
                             "Failed to open key '" + RootText() + "',Section: '" + section_key_ +
                                 "' for query access",
                             kSource);
    }
    for (const QString& name : settings->childKeys()) {
        if (name != QLatin1String(kKeyMarker)) {
            names->push_back(name.toStdString());
        }
    }
    return {};
}

Status Registry::EnumerateSections(std::vector<std::string>* names) const {
    names->clear();
    const auto where = Locate(machine_, class_key_, section_key_);
    const auto settings = OpenFile(where);
    if (settings == nullptr || !EnterGroups(*settings, where->groups, false)) {
        return Status::Error(kRegistryError,
                             "Failed to open key '" + RootText() + "',Section: '" + section_key_ +
                                 "' for query access",
                             kSource);
    }
    for (const QString& name : settings->childGroups()) {
        names->push_back(name.toStdString());
    }
    return {};
}

RegistryKeyValues Registry::ReadKey() const {
    RegistryKeyValues read;
    const auto where = Locate(machine_, class_key_, section_key_);
    const auto settings = OpenFile(where);
    if (settings == nullptr || !EnterGroups(*settings, where->groups, false)) {
        return read;
    }
    read.exists_ = true;
    for (const QString& name : settings->childKeys()) {
        if (!ValidValueName(name)) {
            continue;
        }
        if (std::optional<RegistryValue> stored = FromStored(settings->value(name))) {
            read.values_.emplace_back(name.toStdString(), std::move(*stored));
        }
    }
    return read;
}

std::string Registry::KeyFile() const {
    const auto where = Locate(machine_, class_key_, section_key_);
    return where ? where->file.toStdString() : std::string();
}

std::optional<RegistryValue> RegistryKeyValues::Find(const std::string& name) const {
    const QString wanted = QString::fromStdString(name);
    if (!exists_ || !ValidValueName(wanted)) {
        return std::nullopt;
    }
    // As MatchName: the exact spelling first, else the first equal ignoring case.
    const std::pair<std::string, RegistryValue>* found = nullptr;
    for (const auto& entry : values_) {
        if (entry.first == name) {
            found = &entry;
            break;
        }
        if (found == nullptr &&
            QString::fromStdString(entry.first).compare(wanted, Qt::CaseInsensitive) == 0) {
            found = &entry;
        }
    }
    if (found == nullptr) {
        return std::nullopt;
    }
    return Expanded(found->second);
}

RegistryValue Registry::ValueEx(std::int32_t class_key, const std::string& section_key,
                                const std::string& value_key, int value_type,
                                const RegistryValue& default_value) const {
    Registry one = *this;
    one.class_key_ = class_key;
    one.section_key_ = section_key;
    one.value_key_ = value_key;
    one.value_type_ = value_type;
    one.default_ = default_value;
    return one.Value();
}

Status Registry::SetValueEx(std::int32_t class_key, const std::string& section_key,
                            const std::string& value_key, int value_type,
                            const RegistryValue& value) {
    Registry one = *this;
    one.class_key_ = class_key;
    one.section_key_ = section_key;
    one.value_key_ = value_key;
    one.value_type_ = value_type;
    return one.SetValue(value);
}

}  // namespace ferret
