#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "util/status.h"

namespace ferret {

// Root key handles keep the platform's signed 32-bit values, so error texts show the same
// decimal numbers. Only the current user's root has a store here.
inline constexpr std::int32_t kHKeyCurrentUser = static_cast<std::int32_t>(0x80000001u);

// Registry data types (Registry::ValueType).
inline constexpr int kRegString = 1;
inline constexpr int kRegExpandString = 2;
inline constexpr int kRegBinary = 3;
inline constexpr int kRegNumber = 4;
inline constexpr int kRegNumberBigEndian = 5;
inline constexpr int kRegMultiString = 7;

// The number of every error Registry returns; their source is "ferret.cRegistry".
inline constexpr int kRegistryError = 26001;

// A value: text, a 32-bit number or raw bytes.
using RegistryValue = std::variant<std::string, std::int32_t, QByteArray>;

// The value as text: numbers in decimal, bytes as they are.
std::string RegistryValueText(const RegistryValue& value);

// A key's values as one read of its file found them. Answers as Registry::KeyExists and
// Registry::Value would have at that moment: names matched the same way, expandable texts
// expanded when asked for (so the environment of that time counts, as with Value()).
class RegistryKeyValues {
  public:
    bool Exists() const { return exists_; }
    // The value `name`, or nothing when the key or the value is missing or unreadable.
    std::optional<RegistryValue> Find(const std::string& name) const;

  private:
    friend class Registry;
    bool exists_ = false;
    std::vector<std::pair<std::string, RegistryValue>> values_;  // as stored, not expanded
};

// Access to the per-user registry, kept in settings files. A key path "SOFTWARE\<Folder>\<File>"
// is the file ConfigFolder()/<Folder>/<File>.conf; further path components are nested groups in
// that file. Paths with fewer than three components, not starting with "SOFTWARE" (ignoring case)
// or with empty, "." or ".." components, or with "/" in them, cannot be opened. Group and value
// names are matched ignoring case, as in the platform's registry; folder and file names are not.
//
// Every operation opens the file afresh, so values written by other objects or processes are seen
// at once. Writes go through QSettings, which replaces the file atomically; a file that cannot be
// parsed is never written over. The file keeps no type for numbers: a number written with type 4
// or 5 reads back as its decimal text. Texts with a "%" and another "%" at least two characters
// later are expandable strings: reading them expands each set %NAME% variable.
//
// One object is not safe to share between threads; separate objects on the same file are.
class Registry {
  public:
    // Remote computer name. A set value of three or more characters gets a leading "\\" unless
    // it has one; shorter values clear it. There is no remote registry here: while a machine is
    // set, reads return Default() and every other operation fails.
    const std::string& Machine() const { return machine_; }
    void SetMachine(const std::string& name);

    // True when SectionKey() can be opened under ClassKey() for query: its file exists and
    // parses, and its group (if any) holds values or subkeys or was created by CreateKey.
    bool KeyExists() const;

    // Creates SectionKey() with its missing parents (the folder private to the user).
    Status CreateKey();
    // Deletes SectionKey() with everything below it; the file's own key removes the file.
    Status DeleteKey();
    // Deletes the value ValueKey() of SectionKey().
    Status DeleteValue();

    // Reads ValueKey() of SectionKey(); Default() when the key or value is missing or unreadable.
    RegistryValue Value() const;
    // Writes ValueKey() of SectionKey() as ValueType(), creating the key when missing. Types 1 and
    // 2 take any value as its text; 3 needs bytes; 4 and 5 need a number; 7 is not supported.
    Status SetValue(const RegistryValue& value);

    // The value names (subkey names) of SectionKey(); their count is names->size().
    Status EnumerateValues(std::vector<std::string>* names) const;
    Status EnumerateSections(std::vector<std::string>* names) const;

    // Every value of SectionKey() in one read of the file.
    RegistryKeyValues ReadKey() const;
    // The file that holds SectionKey(), whether or not it exists; empty for a path that cannot
    // be opened.
    std::string KeyFile() const;

    // Type used by SetValue; default kRegString.
    int ValueType() const { return value_type_; }
    void SetValueType(int type) { value_type_ = type; }

    // Root key handle; default kHKeyCurrentUser, the only root that can be opened.
    std::int32_t ClassKey() const { return class_key_; }
    void SetClassKey(std::int32_t key) { class_key_ = key; }

    const std::string& SectionKey() const { return section_key_; }
    void SetSectionKey(std::string path) { section_key_ = std::move(path); }

    const std::string& ValueKey() const { return value_key_; }
    void SetValueKey(std::string name) { value_key_ = std::move(name); }

    // Returned by Value() when it finds nothing; default an empty text.
    const RegistryValue& Default() const { return default_; }
    void SetDefault(RegistryValue value) { default_ = std::move(value); }

    // One-call forms of Value() and SetValue(); they leave this object's properties unchanged
    // (Machine() still applies).
    RegistryValue ValueEx(std::int32_t class_key, const std::string& section_key,
                          const std::string& value_key, int value_type,
                          const RegistryValue& default_value) const;
    Status SetValueEx(std::int32_t class_key, const std::string& section_key,
                      const std::string& value_key, int value_type, const RegistryValue& value);

  private:
    std::string RootText() const;

    std::string machine_;
    std::int32_t class_key_ = kHKeyCurrentUser;
    std::string section_key_;
    std::string value_key_;
    int value_type_ = kRegString;
    RegistryValue default_ = std::string();
};

}  // namespace ferret
