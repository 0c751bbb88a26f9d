#include "office/office_handlers.h"

#include "settings/app_settings.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

std::string LowerExtension(const std::string& file_name) {
    const std::size_t slash = file_name.rfind('/');
    const std::size_t dot = file_name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    return FoldCase(file_name.substr(dot));
}

// Asks the run's LibreOffice, or one started for this call alone.
OfficeAnswer AskOffice(OfficeLink* link, const OfficeRequest& request) {
    if (link != nullptr) {
        return link->Ask(request);
    }
    const std::optional<OfficeSetup> setup = FindOfficeSetup();
    if (!setup) {
        OfficeAnswer answer;
        answer.error = 429;
        answer.description = "LibreOffice cannot be used on this computer";
        return answer;
    }
    OfficeLink own(*setup);
    return own.Ask(request);
}

}  // namespace

OfficeAnswer OfficeHandler::Ask(OfficeRequest::Kind kind, bool rewrite) {
    OfficeRequest request;
    request.kind = kind;
    request.path = filename_;
    request.find = find_;
    request.replace = replace_;
    request.match_case = match_case_;
    request.whole_word = whole_word_;
    request.rewrite = rewrite;
    request.save_to = save_to_;
    OfficeAnswer answer = AskOffice(link_, request);
    saved_ = answer.saved;
    if (answer.error != 0) {
        err_code_ = answer.error;
        error_text_ = answer.description;
    }
    return answer;
}

std::int32_t DocumentHandler::Find() {
    OfficeAnswer answer = Ask(OfficeRequest::Kind::kDocument, false);
    paragraphs_ = std::move(answer.paragraphs);
    return answer.error != 0 ? -1 : answer.count;
}

std::int32_t DocumentHandler::Replace() {
    OfficeAnswer answer = Ask(OfficeRequest::Kind::kDocument, true);
    paragraphs_ = std::move(answer.paragraphs);
    return answer.error != 0 ? -1 : answer.count;
}

bool DocumentHandler::IsInstalled() {
    return FindOfficeSetup().has_value();
}

SpreadsheetHits& SpreadsheetHandler::SheetHits() {
    if (results_ == nullptr) {
        results_ = std::make_unique<SpreadsheetHits>();
    }
    return *results_;
}

std::unique_ptr<SpreadsheetHits> SpreadsheetHandler::TakeSheetHits() {
    SheetHits();
    return std::move(results_);
}

std::int32_t SpreadsheetHandler::Run() {
    const OfficeAnswer answer = Ask(OfficeRequest::Kind::kSpreadsheet, !ReplaceText().empty());
    for (std::size_t i = 0; i < answer.cells.size(); ++i) {
        SpreadsheetHit& entry = SheetHits().Add(answer.cells[i].first, answer.cells[i].second);
        if (i < answer.cell_texts.size()) {
            entry.SetText(answer.cell_texts[i]);
        }
    }
    // After an error the hits found before it stand.
    return answer.count >= 0 ? answer.count : static_cast<std::int32_t>(answer.cells.size());
}

std::int32_t SpreadsheetHandler::Find() {
    return Run();
}

std::int32_t SpreadsheetHandler::Replace() {
    return Run();
}

bool SpreadsheetHandler::IsInstalled() {
    return FindOfficeSetup().has_value();
}

std::string GetHandlerExtensions(bool office_available, const AppSettings& settings) {
    std::string list;
    if (!office_available) {
        return list;
    }
    if (settings.file_handler_excel) {
        list += ".xls|.xlt|.xlsx|.ods|";
    }
    if (settings.file_handler_word) {
        list += ".doc|.dot|.docx|.odt|";
    }
    return list;
}

std::string CurrentHandlerExtensions(const AppSettings& settings,
                                     std::optional<OfficeSetup>* setup) {
    std::optional<OfficeSetup> found;
    if (settings.file_handler_word || settings.file_handler_excel) {
        found = FindOfficeSetup();
    }
    std::string list = GetHandlerExtensions(found.has_value(), settings);
    if (setup != nullptr) {
        *setup = std::move(found);
    }
    return list;
}

bool UseSpecialFileHandler(const std::string& file_name, const std::string& handler_list) {
    const std::string extension = LowerExtension(file_name);
    if (extension.size() < 2) {
        return false;
    }
    std::size_t start = 0;
    while (start < handler_list.size()) {
        std::size_t end = handler_list.find('|', start);
        if (end == std::string::npos) {
            end = handler_list.size();
        }
        if (FoldCase(handler_list.substr(start, end - start)) == extension) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool IsSpreadsheetName(const std::string& file_name) {
    const std::string extension = LowerExtension(file_name);
    return extension == ".xls" || extension == ".xlt" || extension == ".xlsx" ||
           extension == ".ods";
}

}  // namespace ferret
