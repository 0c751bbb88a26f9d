#include "app/search_criteria_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QStyle>

#include "app/explorer_bar.h"
#include "app/qt_text.h"
#include "app/widget_rules.h"
#include "engine/content_search.h"
#include "engine/regex.h"

namespace ferret {

namespace {

void AddUnique(QComboBox* box, const QString& text) {
    if (box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) {
        box->addItem(text);
    }
}

}  // namespace

SearchCriteriaPanel::SearchCriteriaPanel(ExplorerBar& bar, QObject* owner) : QObject(owner) {
    QWidget* search = bar.AddPanel(QStringLiteral("Search"), QStringLiteral("Searc&h Criteria"));
    auto* mask_label = new QLabel(QStringLiteral("All or part of the file &name:"));
    search->layout()->addWidget(mask_label);
    mask_ = new QComboBox;
    mask_->setObjectName(QStringLiteral("cboFilterMask"));
    mask_->setEditable(true);
    mask_->addItems({QStringLiteral("*.*"), QStringLiteral("*.asp;*.php;*.php3;*.php4"),
                     QStringLiteral("*.htm;*.html"), QStringLiteral("*.php;*.php3"),
                     QStringLiteral("*.txt")});
    search->layout()->addWidget(mask_);
    mask_label->setBuddy(mask_);
    include_ = new QRadioButton(QStringLiteral("Include file(s) &listed"));
    exclude_ = new QRadioButton(QStringLiteral("Exclu&de file(s) listed"));
    include_->setChecked(true);
    search->layout()->addWidget(include_);
    search->layout()->addWidget(exclude_);
    AddSkipControls(search);
    auto* find_label = new QLabel(QStringLiteral("A word or &phrase in the file:"));
    search->layout()->addWidget(find_label);
    find_ = new QComboBox;
    find_label->setBuddy(find_);
    find_->setObjectName(QStringLiteral("cboFind"));
    find_->setEditable(true);
    find_->setInsertPolicy(QComboBox::NoInsert);
    search->layout()->addWidget(find_);
    pattern_label_ = new QLabel;
    pattern_label_->setObjectName(QStringLiteral("lblPatternProblem"));
    pattern_label_->setWordWrap(true);
    pattern_label_->hide();
    search->layout()->addWidget(pattern_label_);
    pattern_mark_ = find_->lineEdit()->addAction(
        find_->style()->standardIcon(QStyle::SP_MessageBoxWarning), QLineEdit::TrailingPosition);
    pattern_mark_->setVisible(false);
    search->layout()->addWidget(new QLabel(QStringLiteral("Advanced Options:")));
    regex_ = new QCheckBox(QStringLiteral("Regular e&xpression search"));
    ignore_case_ = new QCheckBox(QStringLiteral("Ignore &case"));
    whole_word_ = new QCheckBox(QStringLiteral("&Whole words only"));
    whole_word_->setObjectName(QStringLiteral("chkWholeWord"));
    recursive_ = new QCheckBox(QStringLiteral("Search sub&folders"));
    const QString applies = QStringLiteral("Applies to Search text - not Replace text.");
    regex_->setToolTip(applies);
    ignore_case_->setToolTip(applies);
    whole_word_->setToolTip(
        QStringLiteral("A hit must start and end where a word does: \"cat\" is not found in "
                       "\"concat\" or \"cats\"."));
    for (QCheckBox* box : {regex_, ignore_case_, whole_word_, recursive_}) {
        QFont bold = box->font();
        bold.setBold(true);
        box->setFont(bold);
        search->layout()->addWidget(box);
    }
    connect(regex_, &QCheckBox::toggled, this, [this](bool on) {
        CheckPattern();
        if (on_regex_changed) {
            on_regex_changed(on);
        }
    });
    connect(ignore_case_, &QCheckBox::toggled, this, [this] { CheckPattern(); });
    connect(find_, &QComboBox::editTextChanged, this, [this] {
        CheckPattern();
        if (on_search_text_changed) {
            on_search_text_changed();
        }
    });
    // The panel scrolls under the wheel; its values change only when the user is in them.
    TakeWheelOnlyWhenFocused(mask_);
    TakeWheelOnlyWhenFocused(find_);
    OfferListWithoutTakingIt(mask_);
    OfferListWithoutTakingIt(find_);
    mask_->lineEdit()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(mask_->lineEdit(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ShowMaskMenu(at); });
}

// A pattern is compiled as the run would compile it (without the JIT: a keystroke's worth of
// work), so a mistake shows while it is typed rather than after a run is started.
void SearchCriteriaPanel::CheckPattern() {
    QString problem;
    const std::string text = S(find_->currentText());
    if (regex_->isChecked() && !text.empty()) {
        RegExp pattern;
        const Status compiled = pattern.Compile(SearchPattern(text, true),
                                                ignore_case_->isChecked(), RegExp::Jit::kOff);
        if (!compiled.ok()) {
            problem = QStringLiteral("The regular expression cannot be used: ") +
                      Q(compiled.description());
        }
    }
    if (problem == pattern_problem_) {
        return;
    }
    pattern_problem_ = problem;
    pattern_label_->setText(problem);
    pattern_label_->setVisible(!problem.isEmpty());
    pattern_mark_->setToolTip(problem);
    pattern_mark_->setVisible(!problem.isEmpty());
    find_->setToolTip(problem);
}

// What the walk leaves out besides the mask: folders by name, what the ignore files leave out,
// binary files.
void SearchCriteriaPanel::AddSkipControls(QWidget* panel) {
    auto* label = new QLabel(QStringLiteral("Folders to &skip:"));
    skip_folders_ = new QComboBox;
    skip_folders_->setObjectName(QStringLiteral("cboSkipFolders"));
    skip_folders_->setEditable(true);
    // The list holds the texts of runs only, not whatever Enter was pressed on.
    skip_folders_->setInsertPolicy(QComboBox::NoInsert);
    skip_folders_->lineEdit()->setPlaceholderText(QStringLiteral("e.g. node_modules;build;.venv"));
    skip_folders_->setToolTip(QStringLiteral(
        "Names of folders the search never enters, separated by \";\" (* and ? work "
        "as in the file name box),\nfor example node_modules;build;.venv;__pycache__"));
    label->setBuddy(skip_folders_);
    use_ignore_files_ = new QCheckBox(QStringLiteral("Skip files that .&gitignore skips"));
    use_ignore_files_->setObjectName(QStringLiteral("chkGitIgnore"));
    use_ignore_files_->setToolTip(
        QStringLiteral("Leaves out the files and folders that .gitignore, .ignore and git's "
                       "exclude files leave out"));
    skip_binary_ = new QCheckBox(QStringLiteral("Skip &binary files"));
    skip_binary_->setObjectName(QStringLiteral("chkNoBinary"));
    skip_binary_->setToolTip(
        QStringLiteral("Leaves out files with a NUL byte near their start: they are neither "
                       "searched nor listed"));
    search_inside_ = new QCheckBox(QStringLiteral("Search inside archi&ves and PDFs"));
    search_inside_->setObjectName(QStringLiteral("chkArchives"));
    search_inside_->setToolTip(
        QStringLiteral("Searches the files inside zip, tar, 7z and compressed files, and the text "
                       "of PDFs.\nA replace never writes into them: it tells which hold hits."));
    QLayout* layout = panel->layout();
    layout->addWidget(label);
    layout->addWidget(skip_folders_);
    layout->addWidget(use_ignore_files_);
    layout->addWidget(skip_binary_);
    layout->addWidget(search_inside_);
    TakeWheelOnlyWhenFocused(skip_folders_);
    OfferListWithoutTakingIt(skip_folders_);
}

// Preset masks first, then the usual editing commands.
void SearchCriteriaPanel::ShowMaskMenu(const QPoint& at) {
    QMenu menu(mask_);
    QMenu* templates = menu.addMenu(QStringLiteral("Search Templates"));
    const std::pair<const char*, const char*> presets[] = {
        {"Graphic Files (jpeg jpg bmp gif png)", "*.jpeg;*.jpg;*.gif;*.png;*.bmp"},
        {"Log Files (log)", "*.log"},
        {"Temporary Files (tmp log)", "*.log;*.tmp"},
        {"Webpage Files (asp html htm php)", "*.htm;*.html;*.asp;*.aspx;*.css;*.inc;*.php;*.js"},
        {"Text Files (txt)", "*.txt"},
    };
    for (const auto& [caption, mask] : presets) {
        const QString text = QString::fromLatin1(mask);
        connect(templates->addAction(QString::fromLatin1(caption)), &QAction::triggered, this,
                [this, text] { mask_->setEditText(text); });
    }
    menu.addSeparator();
    QLineEdit* edit = mask_->lineEdit();
    connect(menu.addAction(QStringLiteral("Cut")), &QAction::triggered, edit, &QLineEdit::cut);
    connect(menu.addAction(QStringLiteral("Copy")), &QAction::triggered, edit, &QLineEdit::copy);
    connect(menu.addAction(QStringLiteral("Paste")), &QAction::triggered, edit, &QLineEdit::paste);
    connect(menu.addAction(QStringLiteral("Delete")), &QAction::triggered, edit, &QLineEdit::del);
    menu.exec(edit->mapToGlobal(at));
}

void SearchCriteriaPanel::ReadInto(SearchFields& fields) const {
    fields.file_mask = S(mask_->currentText());
    fields.include_listed = include_->isChecked();
    fields.recursive = recursive_->isChecked();
    fields.skip_folders = S(skip_folders_->currentText());
    fields.use_ignore_files = use_ignore_files_->isChecked();
    fields.skip_binary = skip_binary_->isChecked();
    fields.search_inside = search_inside_->isChecked();
    fields.search_text = S(find_->currentText());
    fields.regex = regex_->isChecked();
    fields.ignore_case = ignore_case_->isChecked();
    fields.whole_word = whole_word_->isChecked();
}

void SearchCriteriaPanel::Show(const SearchFields& fields) {
    mask_->setEditText(Q(fields.file_mask));
    (fields.include_listed ? include_ : exclude_)->setChecked(true);
    recursive_->setChecked(fields.recursive);
    skip_folders_->setEditText(Q(fields.skip_folders));
    use_ignore_files_->setChecked(fields.use_ignore_files);
    skip_binary_->setChecked(fields.skip_binary);
    search_inside_->setChecked(fields.search_inside);
    find_->setEditText(Q(fields.search_text));
    regex_->setChecked(fields.regex);
    ignore_case_->setChecked(fields.ignore_case);
    whole_word_->setChecked(fields.whole_word);
}

QString SearchCriteriaPanel::SearchText() const {
    return find_->currentText();
}

QString SearchCriteriaPanel::Mask() const {
    return mask_->currentText();
}

bool SearchCriteriaPanel::Regex() const {
    return regex_->isChecked();
}

bool SearchCriteriaPanel::IgnoreCase() const {
    return ignore_case_->isChecked();
}

bool SearchCriteriaPanel::WholeWord() const {
    return whole_word_->isChecked();
}

bool SearchCriteriaPanel::Recursive() const {
    return recursive_->isChecked();
}

void SearchCriteriaPanel::SetRecursive(bool on) {
    recursive_->setChecked(on);
}

void SearchCriteriaPanel::SetStoredMask(const std::string& mask) {
    if (mask == "none") {
        mask_->setCurrentIndex(0);
    } else {
        mask_->setEditText(Q(mask));
    }
}

void SearchCriteriaPanel::SetStoredSkips(const AppSettings& settings) {
    for (const std::string& entry : settings.skip_folders_history) {
        AddUnique(skip_folders_, Q(entry));
    }
    skip_folders_->setEditText(Q(settings.skip_folders));
    use_ignore_files_->setChecked(settings.use_ignore_files);
    skip_binary_->setChecked(settings.skip_binary);
    search_inside_->setChecked(settings.search_inside);
}

void SearchCriteriaPanel::StoreSkipsInto(AppSettings& settings) const {
    settings.skip_folders = S(skip_folders_->currentText());
    settings.skip_folders_history.clear();
    for (int i = 0; i < skip_folders_->count(); ++i) {
        settings.skip_folders_history.push_back(S(skip_folders_->itemText(i)));
    }
    settings.use_ignore_files = use_ignore_files_->isChecked();
    settings.skip_binary = skip_binary_->isChecked();
    settings.search_inside = search_inside_->isChecked();
}

void SearchCriteriaPanel::AddMaskToList(const QString& mask) {
    AddUnique(mask_, mask);
}

// A run that skips nothing has nothing to offer again. The first entry of an empty list would
// take the box's text, which the user may have changed while the run ran.
void SearchCriteriaPanel::AddSkipFoldersToList(const QString& text) {
    if (!text.isEmpty()) {
        const QString shown = skip_folders_->currentText();
        AddUnique(skip_folders_, text);
        skip_folders_->setEditText(shown);
    }
}

void SearchCriteriaPanel::AddSearchToList(const QString& text) {
    AddUnique(find_, text);
}

std::vector<std::string> SearchCriteriaPanel::History() const {
    std::vector<std::string> entries;
    for (int i = 0; i < find_->count(); ++i) {
        entries.push_back(S(find_->itemText(i)));
    }
    return entries;
}

void SearchCriteriaPanel::SetHistory(const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
        find_->addItem(Q(entry));
    }
    find_->setEditText(QString());
}

void SearchCriteriaPanel::ClearHistory() {
    find_->clear();
    find_->setEditText(QString());
}

void SearchCriteriaPanel::SetRunning(bool running) {
    find_->setEnabled(!running);
}

}  // namespace ferret
