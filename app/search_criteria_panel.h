#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "engine/search_fields.h"
#include "settings/app_settings.h"

class QAction;
class QCheckBox;
class QLabel;
class QComboBox;
class QRadioButton;

namespace ferret {

class ExplorerBar;

// The "Search Criteria" panel of the explorer bar: the file mask with its templates, whether
// the mask includes or excludes, the folders to skip with the texts used before, the ignore-file
// and binary switches, the search text with the texts used before, and the pattern, case and
// subfolder switches.
class SearchCriteriaPanel : public QObject {
  public:
    SearchCriteriaPanel(ExplorerBar& bar, QObject* owner);

    // Its part of the fields, and back.
    void ReadInto(SearchFields& fields) const;
    void Show(const SearchFields& fields);

    QString SearchText() const;
    QString Mask() const;
    bool Regex() const;
    bool IgnoreCase() const;
    bool WholeWord() const;
    bool Recursive() const;
    void SetRecursive(bool on);
    // The stored mask; "none" is the first of the list.
    void SetStoredMask(const std::string& mask);

    // The skip box's text and list and the two skip switches, from the settings and back.
    void SetStoredSkips(const AppSettings& settings);
    void StoreSkipsInto(AppSettings& settings) const;

    // The mask box, the skip box and the search box keep the texts used in runs in their lists.
    void AddMaskToList(const QString& mask);
    void AddSkipFoldersToList(const QString& text);
    void AddSearchToList(const QString& text);
    // The search box's list, and an empty one (the box cleared too).
    std::vector<std::string> History() const;
    void SetHistory(const std::vector<std::string>& entries);
    void ClearHistory();

    // The search text cannot be changed while a run uses it.
    void SetRunning(bool running);

    // Why the search text cannot be used as a regular expression, as it is typed; empty when it
    // can, or when it is not one. The box is marked and the reason shown under it meanwhile.
    QString PatternProblem() const { return pattern_problem_; }

    // Called when the search text or the pattern switch changes.
    std::function<void()> on_search_text_changed;
    std::function<void(bool on)> on_regex_changed;

  private:
    void AddSkipControls(QWidget* panel);
    void CheckPattern();
    void ShowMaskMenu(const QPoint& at);

    QComboBox* mask_ = nullptr;
    QRadioButton* include_ = nullptr;
    QRadioButton* exclude_ = nullptr;
    QComboBox* skip_folders_ = nullptr;
    QCheckBox* use_ignore_files_ = nullptr;
    QCheckBox* skip_binary_ = nullptr;
    QCheckBox* search_inside_ = nullptr;
    QComboBox* find_ = nullptr;
    QCheckBox* regex_ = nullptr;
    QCheckBox* ignore_case_ = nullptr;
    QCheckBox* whole_word_ = nullptr;
    QCheckBox* recursive_ = nullptr;
    QLabel* pattern_label_ = nullptr;  // the reason, under the search box
    QAction* pattern_mark_ = nullptr;  // the warning sign in the search box
    QString pattern_problem_;
};

}  // namespace ferret
