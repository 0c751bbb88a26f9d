#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ferret {

// One spreadsheet hit: the sheet and the cell's relative address.
class SpreadsheetHit {
  public:
    const std::string& SheetName() const { return sheet_name_; }
    void SetSheetName(std::string name) { sheet_name_ = std::move(name); }

    const std::string& Cell() const { return cell_; }
    // Drops every "$", so "$B$7" is kept as "B7".
    void SetCell(std::string_view address);
    // What the cell shows (after the replacement in a replace run).
    const std::string& Text() const { return text_; }
    void SetText(std::string text) { text_ = std::move(text); }

  private:
    std::string sheet_name_;
    std::string cell_;
    std::string text_;
};

// The hit cells of one spreadsheet, in the order they were found. Positions are 1-based.
class SpreadsheetHits {
  public:
    SpreadsheetHit& Add(const std::string& sheet_name, const std::string& cell);
    // nullptr when `position` is out of range.
    SpreadsheetHit* Item(std::int32_t position);
    std::int32_t Count() const { return static_cast<std::int32_t>(entries_.size()); }
    bool Remove(std::int32_t position);

    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

  private:
    std::vector<SpreadsheetHit> entries_;
};

}  // namespace ferret
