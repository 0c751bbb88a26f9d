#pragma once

#include <QObject>

#include "engine/search_fields.h"

class QButtonGroup;
class QComboBox;
class QDateTimeEdit;
class QLineEdit;

namespace ferret {

class ExplorerBar;

// The "When was it modified?" and "What size is it?" panels of the explorer bar: an option
// each, and the dates or the size of the last one ("Specify Dates", "Specify size (in KB)").
class DateSizePanels : public QObject {
  public:
    DateSizePanels(ExplorerBar& bar, QObject* owner);

    // Their part of the fields, and back. Dates of 0 leave the boxes as they are.
    void ReadInto(SearchFields& fields) const;
    void Show(const SearchFields& fields);

    // The chosen options, as the settings keep them.
    int DateOption() const;
    int SizeOption() const;

  private:
    QButtonGroup* date_options_ = nullptr;
    QComboBox* date_kind_ = nullptr;
    QDateTimeEdit* date_from_ = nullptr;
    QDateTimeEdit* date_to_ = nullptr;
    QButtonGroup* size_options_ = nullptr;
    QComboBox* size_compare_ = nullptr;
    QLineEdit* size_text_ = nullptr;
};

}  // namespace ferret
