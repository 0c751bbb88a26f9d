#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "office/office_session.h"
#include "office/spreadsheet_hits.h"

namespace ferret {

// Only named here: the engine includes this header, and reads no settings.
struct AppSettings;

// What both office handlers are given and report. Each object serves one file. With a link the
// run's LibreOffice is used; without one the call starts and ends its own.
class OfficeHandler {
  public:
    const std::string& Filename() const { return filename_; }
    void SetFilename(std::string path) { filename_ = std::move(path); }
    const std::string& FindText() const { return find_; }
    void SetFindText(std::string text) { find_ = std::move(text); }
    const std::string& ReplaceText() const { return replace_; }
    void SetReplaceText(std::string text) { replace_ = std::move(text); }
    bool MatchCase() const { return match_case_; }
    void SetMatchCase(bool on) { match_case_ = on; }
    bool WholeWord() const { return whole_word_; }
    void SetWholeWord(bool on) { whole_word_ = on; }
    // Where a rewrite saves the changed document: a new file, never the one read, so that the
    // caller can check and put it in place.
    const std::string& SaveTo() const { return save_to_; }
    void SetSaveTo(std::string path) { save_to_ = std::move(path); }
    // Whether the last call saved the document to SaveTo.
    bool Saved() const { return saved_; }
    std::int32_t ErrCode() const { return err_code_; }
    const std::string& ErrorText() const { return error_text_; }

  protected:
    explicit OfficeHandler(OfficeLink* link) : link_(link) {}
    // Sends the request for this file; an error is kept in ErrCode and ErrorText.
    OfficeAnswer Ask(OfficeRequest::Kind kind, bool rewrite);

  private:
    OfficeLink* link_;
    std::string filename_;
    std::string find_;
    std::string replace_;
    std::string save_to_;
    bool match_case_ = false;
    bool whole_word_ = false;
    bool saved_ = false;
    std::int32_t err_code_ = 0;
    std::string error_text_;
};

// Finds and replaces in a word-processor document (.doc, .dot, .docx, .odt).
class DocumentHandler : public OfficeHandler {
  public:
    explicit DocumentHandler(OfficeLink* link = nullptr) : OfficeHandler(link) {}

    // The number of hits, each counted once; -1 after an error (ErrCode says which).
    std::int32_t Find();
    // The number of hits, all replaced and the document saved in its own format as SaveTo; -1
    // after an error.
    std::int32_t Replace();
    // Whether LibreOffice and the bridge can be started here.
    static bool IsInstalled();
    // The paragraphs of the last Find or Replace that hold hits, in order, each with its hits;
    // their text after the replacement.
    const std::vector<std::pair<std::string, std::int32_t>>& Paragraphs() const {
        return paragraphs_;
    }

  private:
    std::vector<std::pair<std::string, std::int32_t>> paragraphs_;
};

// Finds (and, when ReplaceText is not empty, replaces) in a spreadsheet (.xls, .xlt, .xlsx,
// .ods): a hit is
// a cell whose value holds the text; replacing sets the whole cell to the replacement.
class SpreadsheetHandler : public OfficeHandler {
  public:
    explicit SpreadsheetHandler(OfficeLink* link = nullptr)
        : OfficeHandler(link), results_(std::make_unique<SpreadsheetHits>()) {}

    // The hit cells of the last Find or Replace, sheets in order.
    SpreadsheetHits& SheetHits();
    // Hands the hit cells over (to the file's result record).
    std::unique_ptr<SpreadsheetHits> TakeSheetHits();

    // Both count the hit cells; both rewrite them, saving to SaveTo, exactly when ReplaceText is
    // not empty. After an error the count is the hits found before it.
    std::int32_t Find();
    std::int32_t Replace();
    static bool IsInstalled();

  private:
    std::int32_t Run();

    std::unique_ptr<SpreadsheetHits> results_;
};

// Which extensions go to the office handlers: ".xls|.xlt|.xlsx|.ods|" when the spreadsheet
// handler is on, then ".doc|.dot|.docx|.odt|" when the document handler is, each only when
// LibreOffice can be used (`office_available`, found once by the caller for a whole run).
std::string GetHandlerExtensions(bool office_available, const AppSettings& settings);

// The handler list as `settings` and this computer make it now: LibreOffice is looked for only
// when a handler is switched on. `setup` receives what was found.
std::string CurrentHandlerExtensions(const AppSettings& settings,
                                     std::optional<OfficeSetup>* setup = nullptr);

// Whether `file_name`'s extension (from its last dot) is one of `handler_list`'s, ignoring
// case. A name without an extension never is.
bool UseSpecialFileHandler(const std::string& file_name, const std::string& handler_list);

// ".xls", ".xlt", ".xlsx" and ".ods" go to the spreadsheet handler, the rest of the handlers'
// extensions to the document one.
bool IsSpreadsheetName(const std::string& file_name);

}  // namespace ferret
