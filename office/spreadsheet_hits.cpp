#include "office/spreadsheet_hits.h"

namespace ferret {

void SpreadsheetHit::SetCell(std::string_view address) {
    cell_.clear();
    for (char c : address) {
        if (c != '$') {
            cell_.push_back(c);
        }
    }
}

SpreadsheetHit& SpreadsheetHits::Add(const std::string& sheet_name, const std::string& cell) {
    SpreadsheetHit& entry = entries_.emplace_back();
    entry.SetSheetName(sheet_name);
    entry.SetCell(cell);
    return entry;
}

SpreadsheetHit* SpreadsheetHits::Item(std::int32_t position) {
    if (position < 1 || position > Count()) {
        return nullptr;
    }
    return &entries_[static_cast<std::size_t>(position - 1)];
}

bool SpreadsheetHits::Remove(std::int32_t position) {
    if (position < 1 || position > Count()) {
        return false;
    }
    entries_.erase(entries_.begin() + (position - 1));
    return true;
}

}  // namespace ferret
