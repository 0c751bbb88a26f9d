#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "util/status.h"
#include "util/user_message.h"

struct statx;

namespace ferret {

// Reads the file type names ahead of the first file that needs one, which would otherwise wait a
// tenth of a second or more for them. Thread-safe.
void LoadTypeNames();

// Everything the system can tell about one file: attributes, sizes, names, type name, times and,
// for Windows executables, the version resource. Setting FilePath reads it all at once; the
// attribute flags can also be set (they change the file). Not thread-safe.
class FileInfo {
  public:
    // Reads the file's information. For a file that cannot be opened for reading (or a folder)
    // the previous information stays and the result is false; a caller that tells the user why
    // shows NotFoundMessage(path).
    bool SetFilePath(const std::string& path);
    static UserMessage NotFoundMessage(const std::string& path);
    const std::string& FilePath() const { return file_path_; }

    // Reads everything again for the stored path; false when it can no longer be opened (the
    // properties are then cleared, the path kept).
    bool Refresh();
    // Every flag false, every text empty, every number 0.
    void Clear();

    // Attributes: hidden = the name starts with "."; read-only = the owner may not write it;
    // compressed = the file system's compression flag; system is false here.
    bool Compressed() const { return compressed_; }
    bool Hidden() const { return hidden_; }
    bool ReadOnly() const { return read_only_; }
    bool System() const { return system_; }

    // The text after the last "." of the file name; empty without one.
    const std::string& Extension() const { return extension_; }
    std::uint64_t Size() const { return size_; }
    const std::string& SizeText() const { return size_text_; }
    // The space the file takes on disk when the file system compresses it, else 0 and
    // "Not Compressed".
    std::uint64_t CompressedSize() const { return compressed_size_; }
    const std::string& CompressedSizeText() const { return compressed_size_text_; }

    // The file name; short (8.3) names are the long names on Linux.
    const std::string& Name() const { return name_; }
    // The folder of the file with its trailing "/"; empty for a bare file name.
    const std::string& Location() const { return location_; }

    // The file's type name (from the MIME database, by name only, never by content), or its
    // upper-cased extension followed by " File" when the database knows none.
    const std::string& Type() const { return type_; }
    // The icon theme's name for the file's type ("text-plain"), for the window to look up.
    const std::string& IconName() const { return icon_name_; }

    // Local time as the long date, a space and the long time (without a time zone).
    // Formatted on first use: report fills read many files and never show their times.
    const std::string& CreatedText() const { return created_.Text(); }
    const std::string& ModifiedText() const { return modified_.Text(); }
    const std::string& AccessedText() const { return accessed_.Text(); }

    // The version resource of a Windows executable; other files have none: the texts empty and
    // the target system "Undefined or Unknown".
    const std::string& TargetSystem() const { return target_os_; }
    const std::string& Version() const { return version_; }
    const std::string& Description() const { return description_; }
    const std::string& Copyright() const { return copyright_; }
    const std::string& CompanyName() const { return company_; }
    const std::string& InternalName() const { return internal_name_; }
    const std::string& LegalTrademark() const { return trademark_; }
    const std::string& OriginalFileName() const { return original_name_; }
    const std::string& ProductName() const { return product_name_; }
    const std::string& ProductVersion() const { return product_version_; }
    const std::string& Language() const { return language_; }

    // The part after the last "/"; a path without one comes back unchanged.
    static std::string FileNameOf(const std::string& path);
    // The part after the last "."; empty when there is none.
    static std::string ExtensionOf(const std::string& name);

    // A size as "1,023 bytes", "1.00 KB", "146.5 KB", "4.77 MB", "2.00 GB" in the locale's
    // separators; -1 (no size) gives "0.0KB (0 bytes)".
    static std::string FormatSize(std::int64_t size);
    // The target-system text for a version resource's operating-system value.
    static std::string TargetSystemText(std::uint32_t file_os);
    // The name of a Windows language identifier, as "English (United States)".
    static std::string LanguageName(std::uint16_t langid);

  private:
    void Fill(const struct ::statx& info, int fd);
    bool ReadVersion(int fd);

    std::string file_path_;
    bool compressed_ = false;
    bool hidden_ = false;
    bool read_only_ = false;
    bool system_ = false;
    std::string extension_;
    std::uint64_t size_ = 0;
    std::string size_text_;
    std::uint64_t compressed_size_ = 0;
    std::string compressed_size_text_;
    std::string name_;
    std::string location_;
    std::string type_;
    std::string icon_name_;
    class TimeText {
      public:
        void Set(std::int64_t seconds, std::uint32_t nanoseconds);
        const std::string& Text() const;

      private:
        std::int64_t seconds_ = 0;
        std::uint32_t nanoseconds_ = 0;
        bool set_ = false;
        mutable bool formatted_ = false;
        mutable std::string text_;
    };
    TimeText created_;
    TimeText modified_;
    TimeText accessed_;
    std::string target_os_;
    std::string version_;
    std::string description_;
    std::string copyright_;
    std::string company_;
    std::string internal_name_;
    std::string trademark_;
    std::string original_name_;
    std::string product_name_;
    std::string product_version_;
    std::string language_;
    const char* failed_attribute_ = "";  // named in AttributeFailureMessage
};

// The version resource of a Windows executable (PE file), as far as Ferret shows it.
struct VersionResource {
    std::uint32_t file_os = 0;     // VS_FIXEDFILEINFO's operating-system value
    bool has_fixed_info = false;   // the fixed record was present
    bool has_translation = false;  // "\VarFileInfo\Translation" was present
    std::uint16_t language = 0;    // its first language identifier
    std::string translation;       // its first entry as "040904B0"
    std::string company_name;      // the StringFileInfo values, UTF-8
    std::string file_description;
    std::string file_version;
    std::string internal_name;
    std::string legal_copyright;
    std::string legal_trademarks;
    std::string original_filename;
    std::string product_name;
    std::string product_version;
};

// Reads `size` bytes at `offset` into `out`; false when they are not all there.
using ByteReader = std::function<bool(std::uint64_t offset, std::size_t size, char* out)>;

// Finds and decodes the version resource of the PE image behind `read`, whose length is
// `file_size`. False (with `out` partly filled at most) when there is none or the image is
// damaged; never reads outside the image, and reads at most 64 MiB in all.
bool ReadVersionResource(const ByteReader& read, std::uint64_t file_size, VersionResource& out);

// The same for an image in memory.
bool ReadVersionResource(std::string_view image, VersionResource& out);

}  // namespace ferret
