#include "engine/office_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "engine/content_search.h"
#include "engine/file_records.h"
#include "office/office_handlers.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

// A paragraph's or a cell's text as one hit line: its line breaks as blanks, cut as lines are.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\v') {
            c = ' ';
        }
    }
    return CutLine(text, 0);
}

// A folder of our own for LibreOffice's input and output, made afresh for each file (private:
// nobody else can put anything there) and removed with whatever LibreOffice left in it.
class Scratch {
  public:
    Status Make() {
        const char* base = std::getenv("TMPDIR");
        path_ = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") +
                "/ferret-office-XXXXXX";
        if (mkdtemp(path_.data()) == nullptr) {
            const int error = errno;
            path_.clear();
            return Status::Error(error, std::string("cannot make a private folder for "
                                                    "LibreOffice: ") +
                                            strerror(error));
        }
        folder_.Reset(open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder_.get() < 0) {
            return Status::Error(errno, std::string("cannot open a private folder for "
                                                    "LibreOffice: ") +
                                            strerror(errno));
        }
        return {};
    }
    ~Scratch() {
        if (folder_.get() >= 0) {
            if (DIR* entries = fdopendir(dup(folder_.get())); entries != nullptr) {
                while (const dirent* entry = readdir(entries)) {
                    const std::string_view name = entry->d_name;
                    if (name != "." && name != "..") {
                        unlinkat(folder_.get(), entry->d_name, 0);
                    }
                }
                closedir(entries);
            }
        }
        if (!path_.empty()) {
            rmdir(path_.c_str());
        }
    }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    int folder() const { return folder_.get(); }

  private:
    std::string path_;
    Fd folder_;
};

std::string Extension(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace

bool LooksLikeOfficeContent(const std::string& path) {
    const Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    char head[8] = {};
    if (file.get() < 0) {
        return true;
    }
    const ReadResult got = ReadSome(file.get(), head, sizeof head);
    return got.failed() || LooksLikeOfficeHead(std::string_view(head, got.bytes));
}

bool LooksLikeOfficeHead(std::string_view start) {
    static constexpr unsigned char kOle2[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    return start == std::string_view(reinterpret_cast<const char*>(kOle2), sizeof kOle2) ||
           start.substr(0, 4) == std::string_view("PK\x03\x04", 4) ||
           start.substr(0, 5) == "{\\rtf" || start.substr(0, 5) == "<?xml" ||
           start.substr(0, 8) == "\xEF\xBB\xBF<?xml";
}

OfficeFiles::OfficeFiles(std::string handlers, const std::optional<OfficeSetup>& setup,
                         bool whole_word)
    : handlers_(std::move(handlers)), whole_word_(whole_word) {
    if (!handlers_.empty() && setup) {
        link_ = std::make_unique<OfficeLink>(*setup);
    } else {
        handlers_.clear();
    }
}

OfficeFiles::~OfficeFiles() = default;

bool OfficeFiles::Takes(const FileRecord& record) const {
    return !handlers_.empty() && UseSpecialFileHandler(record.Filename(), handlers_) &&
           LooksLikeOfficeContent(record.FullPath());
}

std::int32_t OfficeFiles::Ask(FileRecord& record, const std::string& source,
                              const std::string& find, const std::string& replace, bool ignore_case,
                              bool rewrite, const std::string& save_to, bool& saved, Status& error,
                              FileHits* hits) {
    std::int32_t count = 0;
    std::int32_t number = 0;
    std::string description;
    // Both handlers take the same settings and answer the same way.
    const auto use = [&](auto& handler) {
        handler.SetFilename(source);
        handler.SetFindText(find);
        handler.SetMatchCase(!ignore_case);
        handler.SetWholeWord(whole_word_);
        handler.SetSaveTo(save_to);
        count = rewrite ? handler.Replace() : handler.Find();
        number = handler.ErrCode();
        description = handler.ErrorText();
        saved = handler.Saved();
    };
    if (IsSpreadsheetName(record.Filename())) {
        SpreadsheetHandler handler(link_.get());
        // A spreadsheet rewrites whenever it has a replacement text, so a search gives none.
        handler.SetReplaceText(rewrite ? replace : std::string());
        use(handler);
        if (hits != nullptr) {
            *hits = {};
            for (const SpreadsheetHit& cell : handler.SheetHits()) {
                hits->lines.push_back(
                    {0,
                     0,
                     1,
                     OneLine(cell.SheetName() + "!" + cell.Cell() + ": " + cell.Text()),
                     {}});
            }
        }
        record.SetSheetHits(handler.TakeSheetHits());
    } else {
        DocumentHandler handler(link_.get());
        handler.SetReplaceText(replace);
        use(handler);
        if (hits != nullptr) {
            *hits = {};
            for (const auto& [text, found] : handler.Paragraphs()) {
                hits->lines.push_back({0, 0, found, OneLine(text), {}});
            }
        }
    }
    if (number != 0) {
        error = Status::Error(number, record.FullPath() + ": " + description);
    }
    return count;
}

std::int32_t OfficeFiles::Search(FileRecord& record, const std::string& find, bool ignore_case,
                                 Status& error, FileHits* hits) {
    bool saved = false;
    return Ask(record, record.FullPath(), find, std::string(), ignore_case, false, std::string(),
               saved, error, hits);
}

std::int32_t OfficeFiles::PrepareReplace(FileRecord& record, const std::string& find,
                                         const std::string& replace, bool ignore_case,
                                         PreparedRewrite& rewrite, std::string& original,
                                         bool& rewritten, Status& error, FileHits* hits,
                                         std::optional<std::uint64_t> digest,
                                         const StartFolder* beneath) {
    rewritten = false;
    const std::string path = record.FullPath();
    const auto failed = [&](int number, const std::string& why) {
        error = Status::Error(number, path + ": " + why);
        return kNotSearched;
    };
    if (std::string why = OpenForRewrite(path, rewrite, original, beneath); !why.empty()) {
        return failed(kFileAccessError, why);
    }
    if (digest && ContentDigest(original) != *digest) {
        return failed(kFileAccessError, kChangedSincePreview);
    }
    // LibreOffice reads a copy of what was read here, so what it changes is what the restore
    // point keeps, whatever happens to the path meanwhile.
    Scratch scratch;
    if (Status made = scratch.Make(); !made.ok()) {
        return failed(made.number(), made.description());
    }
    const std::string extension = Extension(rewrite.name);
    const std::string source_name = "document" + extension;
    const std::string saved_name = "changed" + extension;
    {
        Fd copy(openat(scratch.folder(), source_name.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (copy.get() < 0 || !WriteAll(copy.get(), original)) {
            return failed(
                errno, std::string("cannot copy the document for LibreOffice: ") + strerror(errno));
        }
    }
    bool saved = false;
    const std::int32_t count = Ask(record, scratch.Path(source_name), find, replace, ignore_case,
                                   true, scratch.Path(saved_name), saved, error, hits);
    if (!error.ok() || count <= 0 || !saved) {
        return count;
    }
    // What LibreOffice saved, read from our own folder without following a link.
    const Fd changed(openat(scratch.folder(), saved_name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    std::string_view bytes;
    if (changed.get() < 0 || fstat(changed.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        !ReadWholeFile(changed.get(), static_cast<std::uint64_t>(info.st_size), bytes)) {
        const int why = errno != 0 ? errno : EIO;
        return failed(why,
                      std::string("cannot read the document LibreOffice saved: ") + strerror(why));
    }
    if (bytes == original) {
        return count;  // nothing changed: the file is not touched
    }
    rewrite.content.assign(bytes);
    rewritten = true;
    return count;
}

}  // namespace ferret
