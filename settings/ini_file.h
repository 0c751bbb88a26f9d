#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/own_folder.h"
#include "util/status.h"

namespace ferret {

// Replaces `path` with `bytes` so that a reader sees either the old file or the new one, never a
// mix: the bytes go to a temporary file beside the target (created exclusively, unpredictable
// name, in the folder opened as OpenOutputPlace opens it), are flushed to disk and renamed over
// it within that folder. Links, on the way and at the end, are followed under the link rule
// (OpenOutputPlace), so the file a link points to is replaced and the link stays. An existing
// file keeps its permission bits (and its owner where allowed), unless it is another user's to
// read (IsOthersOutput): then it is refused (EPERM) and left as it was. A new file is ours with
// 0666 less the umask. On failure the temporary file is removed, the old file is left as it was,
// and the error carries the path and the reason.
Status WriteFileAtomically(const std::string& path, std::string_view bytes);
// The same at a place already found (`path` names it in errors).
Status WriteFileAtomicallyAt(const std::string& path, const OutputPlace& place,
                             std::string_view bytes);
// WriteFileAtomicallyAt a part at a time: Begin makes the temporary file (after the same
// checks), Write adds to it, Commit flushes it and puts it in place. Given up (the temporary
// file removed, the old file as it was) when a step fails or the object goes first. The place's
// folder must stay open until then.
class AtomicFile {
  public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    [[nodiscard]] Status Begin(const std::string& path, const OutputPlace& place);
    [[nodiscard]] Status Write(std::string_view bytes);
    [[nodiscard]] Status Commit();

  private:
    void Abandon();
    Status Fail(int error);

    std::string path_;
    int folder_ = -1;
    std::string name_;
    std::string temporary_;
    int fd_ = -1;
};

// "Cannot write 'PATH': " and the reason OpenOutputPlace gave, with its number.
Status OutputRefused(const std::string& path, const Status& reason);

// Reads the profile file `path` as UTF-8 text: a leading UTF-8 byte order mark is skipped, and a
// file that is not valid UTF-8 is taken as Windows-1252 and converted. Line ends are left as they
// are. Only regular files are read (a FIFO would block); ENOENT when the file does not exist.
Status ReadProfileText(const std::string& path, std::string& text);

// How a value is written on its key line: NULs removed, and wrapped in double quotes when the
// reading rules would otherwise change it (blanks at its ends, enclosing quotes). The value must
// hold no line break.
std::string ProfileValueText(std::string_view value);

// The reading rules: blanks (space, tab, vertical tab, form feed) around a name or value are
// dropped, and then one pair of the same quote character enclosing a value.
std::string_view ProfileTrim(std::string_view text);
std::string_view ProfileValueAsRead(std::string_view raw);

// A profile file (".frs", "ferret.dat"): "[Section]" lines open sections, "key=value" lines hold
// values. Sections and keys are matched ignoring case (Unicode case folding) and after dropping
// blanks around them. On reading, blanks around a value are dropped and then one enclosing pair of
// double or single quotes; lines starting with ";" and lines without "=" are ignored; of keys that
// occur twice the first wins; sections that occur twice are one section. Empty names are never
// matched or listed.
//
// Every call reads the file afresh, so one object sees writes made by others at once. A write
// rewrites the whole file atomically (WriteFileAtomically) as UTF-8 with CRLF line ends, keeping
// every other line as it was (comments included): a key is replaced in its own line, a new key is
// added after the last line of its section, a new section at the end of the file. A file that
// cannot be read is never written.
//
// Values are read whole. A value that the reading rules would change (blanks at either end, or
// quote characters at both ends) is written in double quotes, so it reads back exactly.
//
// One object is not safe to share between threads.
class IniFile {
  public:
    // Result of the last write or delete: non-zero on success, 0 on failure; 0 before any.
    int LastReturnCode() const { return last_return_code_; }
    bool Success() const { return last_return_code_ != 0; }
    // The reason for the last failure (with the path); success after a successful call.
    const Status& LastStatus() const { return last_status_; }

    // Returned by Value() when the file, the section or the key is missing. Default empty.
    const std::string& Default() const { return default_; }
    void SetDefault(std::string text) { default_ = std::move(text); }

    const std::string& Path() const { return path_; }
    void SetPath(std::string path) { path_ = std::move(path); }

    const std::string& Key() const { return key_; }
    void SetKey(std::string key) { key_ = std::move(key); }

    const std::string& Section() const { return section_; }
    void SetSection(std::string section) { section_ = std::move(section); }

    // Key() of Section(), or Default().
    std::string Value() const;
    // Writes Key() of Section(), creating the file and the section when missing. NULs are removed
    // from `text`. Refused (LastReturnCode 0, file unchanged) when the value holds a CR or LF, or
    // when the names cannot be stored in a profile line: an empty name, a section with "]", a key
    // with "=" or starting with ";" or "[", or a line break in either.
    void SetValue(std::string_view text);

    // Removes every line of Key() in Section(). A missing file, section or key is a success.
    void DeleteKey();
    // Removes Section() with all its lines (comments within it included).
    void DeleteSection();

    // The key names of Section(), in file order, each once, joined by NUL characters.
    std::string INISection() const;
    // A whole-section write without a key name, which the platform takes as deleting the section:
    // the same as DeleteSection(); `text` is not used.
    void SetINISection(std::string_view text);

    // The section names of the file, in file order, each once, joined by NUL characters.
    std::string Sections() const;

    // Replace `names` with the key names of Section() (or the section names), in file order, each
    // once, and return their count. The first name is at index 0.
    int EnumerateCurrentSection(std::vector<std::string>& names) const;
    int EnumerateAllSections(std::vector<std::string>& names) const;

    // `text` as a 32-bit whole number: blanks around it, an optional sign and decimal digits.
    // Anything else (empty, a fraction, other characters, out of range) gives `fallback`.
    static std::int32_t CLngDefault(std::string_view text, std::int32_t fallback);

  private:
    void Finish(Status status);

    std::string path_;
    std::string section_;
    std::string key_;
    std::string default_;
    int last_return_code_ = 0;
    Status last_status_;
};

}  // namespace ferret
