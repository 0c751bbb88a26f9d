#include "settings/settings.h"

#include <sys/stat.h>

#include <charconv>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "settings/registry.h"

namespace ferret {

namespace {

// What identifies a state of a file: a rename over it, a rewrite in place or a touch all change
// one of these.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& other) const {
        return exists == other.exists && device == other.device && inode == other.inode &&
               size == other.size && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat info {};
    // Followed as QSettings follows it.
    if (stat(path.c_str(), &info) == 0) {
        stamp.exists = true;
        stamp.device = info.st_dev;
        stamp.inode = info.st_ino;
        stamp.size = info.st_size;
        stamp.modified = info.st_mtim;
        stamp.changed = info.st_ctim;
    }
    return stamp;
}

// The parsed keys, shared by every thread of the process.
class SettingsStore {
  public:
    static SettingsStore& Instance() {
        // Never destroyed: a thread still reading at exit finds it whole.
        static SettingsStore* const store = new SettingsStore;
        return *store;
    }

    std::shared_ptr<const RegistryKeyValues> Read(const std::string& keyPath) {
        const Registry registry = Key(keyPath);
        const std::string file = registry.KeyFile();
        if (file.empty()) {
            return std::make_shared<const RegistryKeyValues>();
        }
        std::lock_guard lock(mutex_);
        const FileStamp before = StampOf(file);
        const CacheKey key{file, keyPath};
        if (const auto found = cache_.find(key); found != cache_.end()) {
            if (found->second.stamp == before) {
                return found->second.values;
            }
            cache_.erase(found);
        }
        auto values = std::make_shared<const RegistryKeyValues>(registry.ReadKey());
        // A file that changed while it was read is read again next time.
        if (StampOf(file) == before) {
            cache_.emplace(key, Entry{before, values});
        }
        return values;
    }

    Status Write(const std::string& keyPath, const std::string& valueName,
                 const std::string& text) {
        Registry registry = Key(keyPath);
        std::lock_guard lock(mutex_);
        // Whatever happens, the next read looks at the file again: a failed write may have
        // changed nothing, or a rename within the clock's granularity may look unchanged.
        Forget(registry.KeyFile());
        if (!registry.KeyExists()) {
            if (Status created = registry.CreateKey(); !created.ok()) {
                return created;
            }
        }
        registry.SetValueType(kRegString);
        registry.SetValueKey(valueName);
        return registry.SetValue(text);
    }

  private:
    using CacheKey = std::pair<std::string, std::string>;  // file, key path
    struct Entry {
        FileStamp stamp;
        std::shared_ptr<const RegistryKeyValues> values;
    };

    static Registry Key(const std::string& keyPath) {
        Registry registry;
        registry.SetClassKey(kHKeyCurrentUser);
        registry.SetSectionKey(keyPath);
        return registry;
    }

    // Every key of `file`: a write to one key may change the groups of another.
    void Forget(const std::string& file) {
        std::erase_if(cache_, [&file](const auto& entry) { return entry.first.first == file; });
    }

    std::mutex mutex_;
    std::map<CacheKey, Entry> cache_;  // protected by mutex_
};

}  // namespace

std::string SettingsKeyRead::Text(const std::string& valueName,
                                  const std::string& defaultText) const {
    if (failed_) {
        return {};
    }
    try {
        if (!key_ || !key_->Exists()) {
            return defaultText;
        }
        const std::optional<RegistryValue> value = key_->Find(valueName);
        const std::string text = value ? RegistryValueText(*value) : std::string();
        return text.empty() ? defaultText : text;
    } catch (...) {
        return {};
    }
}

SettingsKeyRead ReadSettingsKey(const std::string& keyPath) {
    SettingsKeyRead read;
    try {
        read.key_ = SettingsStore::Instance().Read(keyPath);
    } catch (...) {
        // Readers run inside handlers that must not fail themselves.
        read.failed_ = true;
    }
    return read;
}

std::string GetSettingValue(const std::string& keyPath, const std::string& valueName,
                            const std::string& defaultText) {
    return ReadSettingsKey(keyPath).Text(valueName, defaultText);
}

Status SaveSettingValue(const std::string& keyPath, const std::string& valueName,
                        const std::string& text) {
    return SettingsStore::Instance().Write(keyPath, valueName, text);
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

}  // namespace ferret
