#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/content_replace.h"
#include "engine/hit_lines.h"
#include "office/office_session.h"
#include "util/status.h"

namespace ferret {

class FileRecord;

// Whether the file at `path` starts as the documents LibreOffice opens do: OLE2 (.doc, .xls),
// ZIP (the Open XML and OpenDocument formats), RTF or XML (the flat formats). A file that
// cannot be read goes to the handler, which says why.
bool LooksLikeOfficeContent(const std::string& path);
// The same test on a file's first bytes (8 are enough).
bool LooksLikeOfficeHead(std::string_view head);

// The office handlers of one run: one LibreOffice for all their files, shut down when this
// ends however the run ends.
class OfficeFiles {
  public:
    // `handlers`: the extensions that go to LibreOffice (none without `setup`). `whole_word`:
    // hits are whole words.
    OfficeFiles(std::string handlers, const std::optional<OfficeSetup>& setup,
                bool whole_word = false);
    ~OfficeFiles();
    OfficeFiles(const OfficeFiles&) = delete;
    OfficeFiles& operator=(const OfficeFiles&) = delete;

    // An office file by its name and by its first bytes: a plain text file named ".doc" is
    // searched and replaced as the text it is, so it is never saved in another format or with
    // a mark it did not have.
    bool Takes(const FileRecord& record) const;

    // Counts the hits of an office file as it is; a spreadsheet's hit cells go to its record. A
    // handler's failure comes back in `error`.
    // `hits`, when given, receives the paragraphs or cells of the hits.
    std::int32_t Search(FileRecord& record, const std::string& find, bool ignore_case,
                        Status& error, FileHits* hits = nullptr);

    // Works out a replace in an office file without touching it, as PrepareRewrite does for a
    // text file: LibreOffice reads a private copy of the file as it was opened and saves the
    // changed document as a private new file, whose bytes become `rewrite.content`. When
    // `rewritten`, `rewrite` is ready for MakeNewFile and `original` holds the file's bytes.
    // Returns the hits, or kNotSearched with the reason in `error`. With `digest`, a file whose
    // bytes no longer have it (read since a preview) is left alone, and so is one that does not
    // lie beneath `beneath`, when given.
    std::int32_t PrepareReplace(FileRecord& record, const std::string& find,
                                const std::string& replace, bool ignore_case,
                                PreparedRewrite& rewrite, std::string& original, bool& rewritten,
                                Status& error, FileHits* hits = nullptr,
                                std::optional<std::uint64_t> digest = std::nullopt,
                                const StartFolder* beneath = nullptr);

  private:
    // Asks the handler for `record`, reading `source` and saving, when `save_to` is not empty,
    // there.
    std::int32_t Ask(FileRecord& record, const std::string& source, const std::string& find,
                     const std::string& replace, bool ignore_case, bool rewrite,
                     const std::string& save_to, bool& saved, Status& error, FileHits* hits);

    std::string handlers_;
    bool whole_word_ = false;
    std::unique_ptr<OfficeLink> link_;
};

}  // namespace ferret
