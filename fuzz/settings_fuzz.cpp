// The settings store (Registry over QSettings files) on arbitrary file content.
//
// The input is the content of the key file SOFTWARE\Mallo\Fuzz, that is
// $XDG_CONFIG_HOME/Mallo/Fuzz.conf. On it:
// - reading (KeyExists, Value, EnumerateValues, EnumerateSections) never crashes and never
//   changes the file, and every listed subkey can be opened;
// - a write of a generated value into a generated subkey succeeds exactly when the file parses
//   and the names, type and value are acceptable; a refused write leaves the file as it was; a
//   written value reads back equal (a number as its decimal text), and the other values of the
//   key are still there, unchanged.
// The generated names and values are taken from the same bytes.

#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "settings/registry.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

using fuzz::Printable;

constexpr char kRootKey[] = "SOFTWARE\\Mallo\\Fuzz";
// A value nothing reads back as: QSettings files cannot hold a text with this NUL-led marker
// unless it was written so, and the generated texts are kept apart from it.
const std::string kMissing = std::string("\0(missing)", 10);

std::string ConfFile() {
    return fuzz::TempRoot() + "/config/Mallo/Fuzz.conf";
}

// Names that went through QString unchanged: valid UTF-8 and no replacement character (which
// stands for something UTF-8 cannot hold, such as a lone surrogate from a "%U" escape).
bool SurvivesQString(const std::string& text) {
    return fuzz::IsValidUtf8(text) && text.find("\xEF\xBF\xBD") == std::string::npos;
}

bool ValidComponent(const std::string& part) {
    return !part.empty() && part != "." && part != ".." && part.find('/') == std::string::npos;
}

bool ValidValueName(const std::string& name) {
    return !name.empty() && name != "." && name.find_first_of("/\\") == std::string::npos;
}

// The components below the file's key, as Registry splits them.
std::vector<std::string> Components(const std::string& below) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = below.find('\\', start);
        parts.push_back(below.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// A text that reading expands: a "%" with another "%" at least two characters later.
bool IsExpandable(const std::string& text) {
    const std::size_t first = text.find('%');
    return first != std::string::npos && text.find('%', first + 2) != std::string::npos;
}

std::string Describe(const RegistryValue& value) {
    switch (value.index()) {
        case 0:
            return "text " + Printable(std::get<std::string>(value));
        case 1:
            return "number " + std::to_string(std::get<std::int32_t>(value));
        default:
            return "bytes " + Printable(RegistryValueText(value));
    }
}

struct FileState {
    std::string bytes;
    timespec modified{};
    bool operator==(const FileState& other) const {
        return bytes == other.bytes && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

FileState State() {
    FileState state;
    state.bytes = fuzz::ReadFile(ConfFile());
    struct stat info {};
    if (stat(ConfFile().c_str(), &info) == 0) {
        state.modified = info.st_mtim;
    }
    return state;
}

// Writes the file with a modification time no other round used. QSettings keeps parsed files
// in a cache that it refreshes only when a file's size or time changes, and two rounds can write
// the same size within one clock tick.
void PlaceFile(const std::string& bytes) {
    static std::int64_t round = 0;
    fuzz::WriteFile(ConfFile(), bytes);
    const timespec times[2] = {{1'000'000'000 + ++round, 0}, {1'000'000'000 + round, 0}};
    utimensat(AT_FDCWD, ConfFile().c_str(), times, 0);
}

Registry Key(const std::string& path, const std::string& value_name) {
    Registry registry;
    registry.SetSectionKey(path);
    registry.SetValueKey(value_name);
    registry.SetDefault(kMissing);
    return registry;
}

// The values of `path` that read as something, by name.
std::vector<std::pair<std::string, RegistryValue>> ReadableValues(const std::string& path) {
    std::vector<std::pair<std::string, RegistryValue>> values;
    std::vector<std::string> names;
    if (!Key(path, "").EnumerateValues(&names).ok()) {
        return values;
    }
    for (const std::string& name : names) {
        if (!ValidValueName(name) || !SurvivesQString(name)) {
            continue;
        }
        RegistryValue value = Key(path, name).Value();
        if (value != RegistryValue(kMissing)) {
            values.emplace_back(name, std::move(value));
        }
    }
    return values;
}

void Check(const std::string& bytes, FuzzedDataProvider& input) {
    PlaceFile(bytes);
    const FileState placed = State();
    const std::string where_file = "file " + Printable(bytes);

    // Reading.
    const std::string below = input.ConsumeRandomLengthString(24);
    const std::string path = below.empty() ? kRootKey : std::string(kRootKey) + "\\" + below;
    const std::string name = input.ConsumeRandomLengthString(16);
    Registry root = Key(kRootKey, name);
    const bool parses = root.KeyExists();
    const Registry key = Key(path, name);
    const bool key_exists = key.KeyExists();
    key.Value();
    std::vector<std::string> names;
    const bool listed = key.EnumerateValues(&names).ok();
    std::vector<std::string> groups;
    const bool listed_groups = key.EnumerateSections(&groups).ok();
    FUZZ_CHECK(
        listed == key_exists && listed_groups == key_exists,
        "key " + Printable(path) + " exists " + std::to_string(key_exists) + "\n" + where_file);
    for (const std::string& group : groups) {
        if (ValidComponent(group) && group.find('\\') == std::string::npos &&
            SurvivesQString(group)) {
            FUZZ_CHECK(Key(path + "\\" + group, "").KeyExists(),
                       "listed subkey " + Printable(group) + " of " + Printable(path) +
                           " does not open\n" + where_file);
        }
    }
    const std::vector<std::pair<std::string, RegistryValue>> before = ReadableValues(kRootKey);
    FUZZ_CHECK(State() == placed, "reading changed the file\n" + where_file);

    // Writing.
    const int type = input.PickValueInArray({kRegString, kRegExpandString, kRegBinary, kRegNumber,
                                             kRegNumberBigEndian, kRegMultiString});
    RegistryValue value;
    switch (input.ConsumeIntegralInRange(0, 2)) {
        case 0:
            value = input.ConsumeRandomLengthString(32);
            break;
        case 1:
            value = input.ConsumeIntegral<std::int32_t>();
            break;
        default: {
            const std::string raw = input.ConsumeRandomLengthString(32);
            value = QByteArray(raw.data(), static_cast<qsizetype>(raw.size()));
            break;
        }
    }
    bool valid_path = true;
    if (!below.empty()) {
        for (const std::string& part : Components(below)) {
            valid_path = valid_path && ValidComponent(part);
        }
    }
    const bool type_fits =
        type == kRegString || type == kRegExpandString ||
        (type == kRegBinary && value.index() == 2) ||
        ((type == kRegNumber || type == kRegNumberBigEndian) && value.index() == 1);
    const bool acceptable = parses && valid_path && ValidValueName(name) && type_fits;
    Registry writer = Key(path, name);
    writer.SetValueType(type);
    const Status status = writer.SetValue(value);
    const std::string where = "key " + Printable(path) + " name " + Printable(name) + " type " +
                              std::to_string(type) + " " + Describe(value) + "\n" + where_file;
    FUZZ_CHECK(status.ok() == acceptable,
               "write " + std::string(status.ok() ? "succeeded" : "failed") + "\n" + where);
    if (!status.ok()) {
        FUZZ_CHECK(State() == placed, "a refused write changed the file\n" + where);
        return;
    }

    const RegistryValue back = Key(path, name).Value();
    if (value.index() == 2 && type == kRegBinary) {
        FUZZ_CHECK(back == value, "read back " + Describe(back) + "\n" + where);
    } else if (value.index() == 1) {
        FUZZ_CHECK(back == RegistryValue(std::to_string(std::get<std::int32_t>(value))),
                   "read back " + Describe(back) + "\n" + where);
    } else {
        // A text is stored through QString: it must be UTF-8 to come back byte for byte.
        const std::string text = RegistryValueText(value);
        if (fuzz::IsValidUtf8(text) && !IsExpandable(text) && SurvivesQString(name)) {
            FUZZ_CHECK(back == RegistryValue(text), "read back " + Describe(back) + "\n" + where);
        }
    }

    // The other values of the file's own key are still there, unchanged.
    for (const auto& [other, old_value] : before) {
        if (below.empty() && EqualsIgnoringCase(other, name)) {
            continue;
        }
        const RegistryValue now = Key(kRootKey, other).Value();
        FUZZ_CHECK(now == old_value, "value " + Printable(other) + " was " + Describe(old_value) +
                                         ", now " + Describe(now) + "\n" + where);
    }
}

}  // namespace
}  // namespace ferret

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ferret::fuzz::TempRoot();
    std::filesystem::create_directories(ferret::fuzz::TempRoot() + "/config/Mallo");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    FuzzedDataProvider input(data, size);
    ferret::Check(bytes, input);
    return 0;
}
