#include "app/main_window.h"

#include <errno.h>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <limits>
#include <mutex>
#include <vector>

#include "app/command_process.h"
#include "app/explorer_bar.h"
#include "app/file_dialogs.h"
#include "app/file_list_model.h"
#include "app/help_window.h"
#include "app/hit_lines_view.h"
#include "app/options_dialog.h"
#include "app/preview_replace_dialog.h"
#include "app/problems_dialog.h"
#include "app/restore_points_dialog.h"
#include "app/result_menu.h"
#include "app/spreadsheet_hits_window.h"
#include "app/structured_model.h"
#include "app/task_progress.h"
#include "app/undo_command.h"
#include "app/widget_rules.h"
#include "app/window_run_view.h"
#include "engine/date_time.h"
#include "ferret_version.h"
#include "office/office_handlers.h"
#include "preview/preview_window.h"
#include "preview/print_document.h"
#include "reports/quoted_name.h"
#include "reports/summary_report.h"
#include "settings/error_log.h"
#include "settings/search_config.h"
#include "settings/search_history.h"
#include "settings/settings.h"
#include "util/app_locale.h"
#include "util/app_paths.h"
#include "util/user_folders.h"

namespace ferret {
namespace {

// Twips are 1/1440 inch; at 96 dots per inch 15 twips make a pixel.
int TwipsToPixels(int twips, const QWidget* widget) {
    const qreal dpi = widget->screen() != nullptr ? widget->screen()->logicalDotsPerInch() : 96;
    return static_cast<int>(twips * dpi / 1440.0 + 0.5);
}
int PixelsToTwips(int pixels, const QWidget* widget) {
    const qreal dpi = widget->screen() != nullptr ? widget->screen()->logicalDotsPerInch() : 96;
    return static_cast<int>(pixels * 1440.0 / dpi + 0.5);
}

std::string S(const QString& text) {
    return text.toStdString();
}
QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// DateTime days since 30 December 1899, local time, to and from QDateTime.
QDateTime ToQDateTime(DateTime when) {
    const std::int64_t seconds = static_cast<std::int64_t>((when - 25569.0) * 86400.0 + 0.5);
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toLocalTime().addSecs(0);
}
DateTime FromQDateTime(const QDateTime& when) {
    const QDate d = when.date();
    const QTime t = when.time();
    return DateTimeFromCivil(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Critical:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Information:
            break;
    }
    return QMessageBox::Information;
}

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Ferret v%1.%2.0.%3")
                       .arg(FERRET_VERSION_MAJOR)
                       .arg(FERRET_VERSION_MINOR)
                       .arg(FERRET_VERSION_PATCH));
    BuildWidgets();
    BuildMenus();
    BuildPopups();
    WindowRunView::Handlers handlers;
    handlers.status = [this](int panel, const QString& text) {
        if (panel >= 1 && panel <= 3) {
            status_[panel - 1]->setText(text);
        }
    };
    handlers.run_log = [this](const QString& text, bool append) {
        if (append) {
            run_log_->moveCursor(QTextCursor::End);
            run_log_->insertPlainText(text);
        } else {
            run_log_->setPlainText(text);
        }
    };
    handlers.running = [this](bool running) { EnableForm(running); };
    handlers.progress = [this](std::size_t done, std::size_t total) {
        // Counts beyond an int are shown in thousandths.
        const bool huge = total > static_cast<std::size_t>(std::numeric_limits<int>::max());
        progress_->setRange(0, huge ? 1000 : static_cast<int>(total));
        progress_->setValue(huge ? static_cast<int>(done * 1000 / total) : static_cast<int>(done));
        task_progress_->Show(static_cast<double>(done) / static_cast<double>(total));
    };
    handlers.busy = [](bool busy) {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    };
    handlers.message = [this](const QString& text, const QString& title, MessageIcon icon) {
        QMessageBox box(BoxIcon(icon), title, text, QMessageBox::Ok, this);
        box.exec();
    };
    handlers.notice = [this](const QString& text, const QString& title, MessageIcon icon) {
        auto* box = new QMessageBox(BoxIcon(icon), title, text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    };
    handlers.mask_to_list = [this](const QString& text) {
        if (mask_->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) {
            mask_->addItem(text);
        }
    };
    handlers.search_to_list = [this](const QString& text) {
        if (find_->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) {
            find_->addItem(text);
        }
    };
    handlers.report_text = [this](const QString& text) {
        report_shown_ = text;
        report_text_->setPlainText(text);
    };
    handlers.report_menus = [this](bool enabled) {
        save_report_->setEnabled(enabled);
        print_report_->setEnabled(enabled);
    };
    handlers.report_view = [this](int code) { ShowReportView(code); };
    handlers.results_group = [this] { bar_->SetExpanded(QStringLiteral("Results"), true); };
    handlers.file_list = [this](std::shared_ptr<FileListRows> rows) {
        file_model_->ResetRows(std::move(rows->rows), std::move(rows->owner));
        // Type names ("plain text document") are read whole, not cut.
        list_view_->resizeColumnToContents(kColumnType);
        reports_->setCurrentWidget(list_view_);
    };
    handlers.hit_lines = [this](std::shared_ptr<const HitLineTable> table) {
        hit_view_->ShowTable(std::move(table));
        reports_->setCurrentWidget(hit_view_);
    };
    handlers.structured_tree = [this](std::shared_ptr<StructuredTree> tree) {
        tree_model_->ResetTree(std::move(*tree));
        tree_view_->expandToDepth(1);
        reports_->setCurrentWidget(tree_view_);
    };
    view_ = std::make_unique<WindowRunView>(this, std::move(handlers));
    driver_ = std::make_unique<RunDriver>(*view_);
    LoadSettings();
    EnableForm(false);
}

MainWindow::~MainWindow() {
    // Children going away move the focus, and the tree it looks at may be gone already.
    disconnect(focus_watch_);
    if (IsRunning()) {
        driver_->PressStop();
        run_thread_.join();
    }
}

void MainWindow::BuildWidgets() {
    bar_ = new ExplorerBar;
    bar_->setMinimumWidth(300);
    if (GetSettingValue(kSettingsKey, kDisplayQuickLinks, SettingDefault(kDisplayQuickLinks)) ==
        "True") {
        BuildQuickLinks();
    }

    // Search criteria.
    QWidget* search = bar_->AddPanel(QStringLiteral("Search"), QStringLiteral("Search Criteria"));
    search->layout()->addWidget(new QLabel(QStringLiteral("All or part of the file name:")));
    mask_ = new QComboBox;
    mask_->setObjectName(QStringLiteral("cboFilterMask"));
    mask_->setEditable(true);
    mask_->addItems({QStringLiteral("*.*"), QStringLiteral("*.asp;*.php;*.php3;*.php4"),
                     QStringLiteral("*.htm;*.html"), QStringLiteral("*.php;*.php3"),
                     QStringLiteral("*.txt")});
    search->layout()->addWidget(mask_);
    include_ = new QRadioButton(QStringLiteral("Include file(s) listed"));
    exclude_ = new QRadioButton(QStringLiteral("Exclude file(s) listed"));
    include_->setChecked(true);
    search->layout()->addWidget(include_);
    search->layout()->addWidget(exclude_);
    search->layout()->addWidget(new QLabel(QStringLiteral("A word or phrase in the file:")));
    find_ = new QComboBox;
    find_->setObjectName(QStringLiteral("cboFind"));
    find_->setEditable(true);
    find_->setInsertPolicy(QComboBox::NoInsert);
    search->layout()->addWidget(find_);
    search->layout()->addWidget(new QLabel(QStringLiteral("Advanced Options:")));
    regex_ = new QCheckBox(QStringLiteral("Regular e&xpression search"));
    ignore_case_ = new QCheckBox(QStringLiteral("Ignore &case"));
    recursive_ = new QCheckBox(QStringLiteral("Search sub&folders"));
    const QString applies = QStringLiteral("Applies to Search text - not Replace text.");
    regex_->setToolTip(applies);
    ignore_case_->setToolTip(applies);
    for (QCheckBox* box : {regex_, ignore_case_, recursive_}) {
        QFont bold = box->font();
        bold.setBold(true);
        box->setFont(bold);
        search->layout()->addWidget(box);
    }
    connect(regex_, &QCheckBox::toggled, this, [this](bool on) {
        if (driver_) {
            driver_->SetUseRegex(on);
        }
    });

    // When was it modified?
    QWidget* modified =
        bar_->AddPanel(QStringLiteral("MODIFIED"), QStringLiteral("When was it modified?"), false);
    date_options_ = new QButtonGroup(this);
    const QStringList date_texts = {
        QStringLiteral("Don't Remember"), QStringLiteral("Within the last week"),
        QStringLiteral("Past month"), QStringLiteral("Within the last year"),
        QStringLiteral("Specify Dates")};
    for (int i = 0; i < date_texts.size(); ++i) {
        auto* option = new QRadioButton(date_texts[i]);
        date_options_->addButton(option, i);
        modified->layout()->addWidget(option);
    }
    date_kind_ = new QComboBox;
    date_kind_->setObjectName(QStringLiteral("cboDateType"));
    date_kind_->addItems({QStringLiteral("Modified Date"), QStringLiteral("Accessed Date"),
                          QStringLiteral("Created Date")});
    date_from_ = new QDateTimeEdit(QDateTime::currentDateTime());
    date_to_ = new QDateTimeEdit(QDateTime::currentDateTime());
    // Dates as the reports write them.
    for (QDateTimeEdit* date : {date_from_, date_to_}) {
        date->setCalendarPopup(true);
        date->setLocale(AppLocale());
        date->setDisplayFormat(GeneralDateTimeFormat());
    }
    modified->layout()->addWidget(date_kind_);
    modified->layout()->addWidget(new QLabel(QStringLiteral("From:")));
    modified->layout()->addWidget(date_from_);
    modified->layout()->addWidget(new QLabel(QStringLiteral("To:")));
    modified->layout()->addWidget(date_to_);

    // What size is it?
    QWidget* size =
        bar_->AddPanel(QStringLiteral("SIZE"), QStringLiteral("What size is it?"), false);
    size_options_ = new QButtonGroup(this);
    const QStringList size_texts = {
        QStringLiteral("Don't Remember"), QStringLiteral("Small (less than 100KB)"),
        QStringLiteral("Medium (less than 1MB)"), QStringLiteral("Large (more than 1MB)"),
        QStringLiteral("Specify size (in KB)")};
    for (int i = 0; i < size_texts.size(); ++i) {
        auto* option = new QRadioButton(size_texts[i]);
        size_options_->addButton(option, i);
        size->layout()->addWidget(option);
    }
    size_compare_ = new QComboBox;
    size_compare_->setObjectName(QStringLiteral("cboSize"));
    size_compare_->addItems({QStringLiteral("At Least"), QStringLiteral("At Most")});
    size_text_ = new QLineEdit;
    size_text_->setObjectName(QStringLiteral("txtSize"));
    size->layout()->addWidget(size_compare_);
    size->layout()->addWidget(size_text_);
    // Only a number: digits and at most one point, not a lone point.
    connect(size_text_, &QLineEdit::textChanged, this, [this](const QString& text) {
        const bool digits_and_points =
            std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit() || c == '.'; });
        if (!text.isEmpty() && (!digits_and_points || text == QStringLiteral(".") ||
                                text.count(QLatin1Char('.')) > 1)) {
            size_text_->clear();
        }
    });
    // The chosen option's caption is bold; its own controls are enabled only for the last one.
    const auto option_rule = [](QButtonGroup* group, std::vector<QWidget*> controls) {
        const auto apply = [group, controls = std::move(controls)](int chosen) {
            for (QAbstractButton* button : group->buttons()) {
                QFont font = button->font();
                font.setBold(group->id(button) == chosen);
                button->setFont(font);
            }
            for (QWidget* control : controls) {
                control->setEnabled(chosen == 4);
            }
        };
        QObject::connect(group, &QButtonGroup::idClicked, group, apply);
        group->button(0)->setChecked(true);
        apply(0);
    };
    option_rule(date_options_, std::vector<QWidget*>{date_kind_, date_from_, date_to_});
    option_rule(size_options_, std::vector<QWidget*>{size_compare_, size_text_});
    // The panel scrolls under the wheel; its values change only when the user is in them.
    for (QWidget* control : std::initializer_list<QWidget*>{mask_, find_, date_kind_, date_from_,
                                                            date_to_, size_compare_}) {
        TakeWheelOnlyWhenFocused(control);
    }
    OfferListWithoutTakingIt(mask_);
    OfferListWithoutTakingIt(find_);

    // Replace criteria and the run log.
    QWidget* replace =
        bar_->AddPanel(QStringLiteral("Replace"), QStringLiteral("Replace Criteria"), false);
    replace->layout()->addWidget(new QLabel(QStringLiteral("Text to replace in the file:")));
    replace_ = new QLineEdit;
    replace_->setObjectName(QStringLiteral("txtReplace"));
    replace_->setToolTip(
        QStringLiteral("This is the text that will be used to replace the search string"));
    replace->layout()->addWidget(replace_);
    QWidget* results = bar_->AddPanel(QStringLiteral("Results"), QStringLiteral("Results"), false);
    run_log_ = new QTextEdit;
    run_log_->setReadOnly(true);
    run_log_->setMinimumHeight(120);
    results->layout()->addWidget(run_log_);

    // Right side: the folder box, its drop-down tree, the report views.
    folder_ = new QComboBox;
    folder_->setObjectName(QStringLiteral("cboFolder"));
    folder_->setEditable(true);
    folder_->lineEdit()->setPlaceholderText(QStringLiteral("...select a folder to search"));
    folder_->installEventFilter(this);
    folder_->lineEdit()->installEventFilter(this);  // most clicks land on the text
    OfferListWithoutTakingIt(folder_);
    TakeWheelOnlyWhenFocused(folder_);
    folder_model_ = new QFileSystemModel(this);
    folder_model_->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Drives);
    folder_model_->setRootPath(QStringLiteral("/"));
    folder_tree_ = new QTreeView;
    folder_tree_->setObjectName(QStringLiteral("ftv"));
    folder_tree_->setModel(folder_model_);
    for (int column = 1; column < folder_model_->columnCount(); ++column) {
        folder_tree_->hideColumn(column);
    }
    folder_tree_->setHeaderHidden(true);
    folder_tree_->hide();
    const auto pick = [this](const QModelIndex& index) {
        folder_guard_ = true;
        folder_->setEditText(folder_model_->filePath(index));
        folder_tree_->hide();
        folder_guard_ = false;
    };
    connect(folder_tree_, &QTreeView::clicked, this, pick);
    // Folders load in the background: keep the current one in sight as its parents arrive.
    connect(folder_model_, &QFileSystemModel::directoryLoaded, this, [this] {
        if (folder_tree_->isVisible()) {
            folder_tree_->scrollTo(folder_tree_->currentIndex(),
                                   QAbstractItemView::PositionAtCenter);
        }
    });
    connect(folder_tree_, &QTreeView::activated, this, pick);  // Enter
    // The tree is the folder box's drop-down: it closes when the focus goes elsewhere.
    focus_watch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (folder_tree_->isVisible() && now != nullptr && now != folder_ &&
            now != folder_->lineEdit() && now != folder_tree_ && !folder_tree_->isAncestorOf(now)) {
            folder_tree_->hide();
        }
    });
    folder_tree_->installEventFilter(this);  // Escape closes it
    connect(folder_, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (!folder_guard_ && IsFolder(text)) {
            folder_tree_->setCurrentIndex(folder_model_->index(text));
        }
    });

    list_view_ = new QTableView;
    list_view_->setObjectName(QStringLiteral("lvFiles"));
    file_model_ = new FileListModel(this);
    list_view_->setModel(file_model_);
    list_view_->setToolTip(QStringLiteral("Double-click file to preview contents"));
    list_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_view_->verticalHeader()->hide();
    list_view_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    list_view_->horizontalHeader()->setStretchLastSection(true);
    // Room for the folder texts; the flags column takes what is left. Every column is at least
    // as wide as its caption with the sort arrow beside it, at any font size.
    list_view_->horizontalHeader()->setSortIndicatorShown(true);
    list_view_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    const int widths[kFileListColumnCount - 1] = {160, 260, 80, 120, 80};
    for (int column = 0; column < kFileListColumnCount - 1; ++column) {
        list_view_->horizontalHeader()->resizeSection(
            column,
            std::max(widths[column], list_view_->horizontalHeader()->sectionSizeHint(column)));
    }
    list_view_->horizontalHeader()->setSectionsClickable(true);
    connect(list_view_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        file_model_->ColumnClicked(column);
        list_view_->horizontalHeader()->setSortIndicatorShown(true);
        list_view_->horizontalHeader()->setSortIndicator(file_model_->SortColumn(),
                                                         file_model_->SortOrder());
    });
    connect(list_view_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        OpenFilePreviewer(file_model_->FullPath(index.row()));
    });
    // The right-click menu of the result files, the clicked row first.
    result_menu_ = std::make_unique<ResultMenu>(this);
    result_menu_->SetPreviewHandler([this](const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            OpenFilePreviewer(path);
        }
    });
    result_menu_->SetTrashedHandler(
        [this](const std::vector<std::string>& paths) { file_model_->RemovePaths(paths); });
    list_view_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_view_->viewport()->installEventFilter(this);  // the right button's selection
    connect(list_view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        result_menu_->Show(ContextMenuPaths(*list_view_, *file_model_, at),
                           list_view_->viewport()->mapToGlobal(at));
    });
    tree_view_ = new QTreeView;
    tree_view_->setObjectName(QStringLiteral("tvReport"));
    tree_model_ = new StructuredModel(this);
    tree_view_->setModel(tree_model_);
    tree_view_->setHeaderHidden(true);
    tree_view_->setUniformRowHeights(true);
    connect(tree_view_, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { tree_model_->SetExpanded(index, true); });
    connect(tree_view_, &QTreeView::collapsed, this,
            [this](const QModelIndex& index) { tree_model_->SetExpanded(index, false); });
    connect(tree_view_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        OpenFilePreviewer(tree_model_->DoubleClickPath(index));
    });
    // Plain text lays out only what is on screen, so a report of a hundred thousand files shows
    // at once.
    report_text_ = new QPlainTextEdit;
    report_text_->setObjectName(QStringLiteral("rtbReport"));
    report_text_->setReadOnly(true);
    report_text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    hit_view_ = new HitLinesView;
    hit_view_->on_open = [this](const std::string& path, std::int64_t line, std::int64_t column) {
        OpenFilePreviewer(path, line, column);
    };
    hit_view_->on_menu = [this](const std::vector<std::string>& paths, const QPoint& global) {
        result_menu_->Show(paths, global);
    };
    reports_ = new QStackedWidget;
    reports_->addWidget(list_view_);
    reports_->addWidget(tree_view_);
    reports_->addWidget(report_text_);
    reports_->addWidget(hit_view_);

    auto* right = new QWidget;
    right->setObjectName(QStringLiteral("reportArea"));
    auto* right_layout = new QVBoxLayout(right);
    // The folder box and the reports end 175 twips short of the window's right edge.
    right_layout->setContentsMargins(0, 0, TwipsToPixels(175, this), 0);
    right_layout->addWidget(folder_);
    right_layout->addWidget(reports_, 1);
    // The folder tree drops down over the reports, as a combo box's list would.
    folder_tree_->setParent(right);
    folder_tree_->hide();
    right->installEventFilter(this);
    report_area_ = right;

    auto* splitter = new QSplitter;
    splitter->addWidget(bar_);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);

    // Toolbars.
    auto* search_bar = addToolBar(QStringLiteral("Search"));
    search_bar->setObjectName(QStringLiteral("tbSearch"));
    search_bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    search_action_ = search_bar->addAction(style()->standardIcon(QStyle::SP_FileDialogContentsView),
                                           QStringLiteral("Search"));
    search_action_->setToolTip(QStringLiteral("Start search process"));
    replace_action_ = search_bar->addAction(style()->standardIcon(QStyle::SP_BrowserReload),
                                            QStringLiteral("Replace"));
    replace_action_->setToolTip(QStringLiteral("Start replace process"));
    preview_action_ = search_bar->addAction(
        style()->standardIcon(QStyle::SP_FileDialogDetailedView), QStringLiteral("Preview"));
    preview_action_->setObjectName(QStringLiteral("cmdPreviewReplace"));
    preview_action_->setToolTip(
        QStringLiteral("See every change a replace would make and choose which to make"));
    preview_action_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+R")));
    connect(preview_action_, &QAction::triggered, this, [this] { PreviewReplace(); });
    connect(search_action_, &QAction::triggered, this,
            [this] { StartRun(QStringLiteral("Search")); });
    connect(replace_action_, &QAction::triggered, this,
            [this] { StartRun(QStringLiteral("Replace")); });
    auto* main_bar = addToolBar(QStringLiteral("Run"));
    main_bar->setObjectName(QStringLiteral("tbMain"));
    main_bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    stop_action_ =
        main_bar->addAction(style()->standardIcon(QStyle::SP_MediaStop), QStringLiteral("Stop"));
    stop_action_->setToolTip(QStringLiteral("Stop the current search"));
    pause_action_ =
        main_bar->addAction(style()->standardIcon(QStyle::SP_MediaPause), QStringLiteral("Pause"));
    pause_action_->setToolTip(QStringLiteral("Pause the current search"));
    connect(stop_action_, &QAction::triggered, this, [this] { PressStop(); });
    connect(pause_action_, &QAction::triggered, this, [this] { PressPause(); });
    connect(find_, &QComboBox::editTextChanged, this, [this] { UpdateReplaceButton(); });
    connect(replace_, &QLineEdit::textChanged, this, [this] { UpdateReplaceButton(); });
    UpdateReplaceButton();

    for (QLabel*& panel : status_) {
        panel = new QLabel;
        statusBar()->addWidget(panel, 1);
    }
    problems_button_ = new QToolButton;
    problems_button_->setObjectName(QStringLiteral("cmdProblems"));
    problems_button_->setAutoRaise(true);
    problems_button_->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    problems_button_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    problems_button_->setToolTip(QStringLiteral("Show the files that could not be done"));
    problems_button_->hide();
    statusBar()->addPermanentWidget(problems_button_);
    task_progress_ = std::make_unique<TaskProgress>(QStringLiteral("org.mallo.Ferret.desktop"));
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("runProgress"));
    progress_->setMaximumWidth(fontMetrics().averageCharWidth() * 24);
    progress_->hide();
    statusBar()->addPermanentWidget(progress_);
    connect(problems_button_, &QToolButton::clicked, this, [this] { ShowProblems(); });
}

void MainWindow::BuildQuickLinks() {
    QWidget* links = bar_->AddPanel(QStringLiteral("Quick Links"), QStringLiteral("Quick Links"));
    struct Link {
        const char* key;
        const char* text;
        const char* icon;
        QStyle::StandardPixmap fallback;
    };
    const Link items[] = {
        {"MyDocuments", "My Documents", "folder-documents", QStyle::SP_DirHomeIcon},
        {"MyPictures", "My Pictures", "folder-pictures", QStyle::SP_DirIcon},
        {"Desktop", "Desktop", "user-desktop", QStyle::SP_DesktopIcon},
        {"Programs", "Programs", "applications-system", QStyle::SP_ComputerIcon},
    };
    for (const Link& item : items) {
        auto* button = new QToolButton;
        button->setObjectName(QString::fromLatin1(item.key));
        button->setText(QString::fromLatin1(item.text));
        button->setIcon(
            QIcon::fromTheme(QString::fromLatin1(item.icon), style()->standardIcon(item.fallback)));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        button->setCursor(Qt::PointingHandCursor);
        const QString key = QString::fromLatin1(item.key);
        connect(button, &QToolButton::clicked, this, [this, key] { OpenQuickLink(key); });
        links->layout()->addWidget(button);
    }
}

bool MainWindow::OpenQuickLink(const QString& key) {
    int id = -1;
    if (key == QLatin1String("MyDocuments")) {
        id = UserFolders::kPersonal;
    } else if (key == QLatin1String("Desktop")) {
        id = UserFolders::kDesktop;
    } else if (key == QLatin1String("MyPictures")) {
        id = UserFolders::kMyPictures;
    } else if (key == QLatin1String("Programs")) {
        id = UserFolders::kProgramFiles;
    }
    QString path = Q(UserFolders().GetFolderPath(id));
    // A user folder the desktop never made (no Documents or Desktop folder) is the home folder,
    // as the desktops' own rule for these folders says.
    if (!IsFolder(path) && id != UserFolders::kProgramFiles) {
        path = Q(HomeFolder());
    }
    if (!IsFolder(path)) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Folder Error"),
                        QStringLiteral("The folder you have selected does not exist"),
                        QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    folder_guard_ = true;
    folder_tree_->setCurrentIndex(folder_model_->index(path));
    folder_->setEditText(path);
    folder_guard_ = false;
    return true;
}

PreviewWindow* MainWindow::OpenFilePreviewer(const std::string& path, std::int64_t line,
                                             std::int64_t column) {
    const QFileInfo info(Q(path));
    if (path.empty() || !info.exists() || info.isDir()) {
        return nullptr;
    }
    // Office files are not text: spreadsheets list their hit cells, documents open in their own
    // application.
    if (UseSpecialFileHandler(path, CurrentHandlerExtensions())) {
        if (IsSpreadsheetName(path)) {
            auto* cells = new SpreadsheetHitsWindow(this);
            const std::shared_ptr<FileRecords>& results = driver_->Results();
            FileRecord* record = results ? results->Item(path) : nullptr;
            cells->SetExcelResults(
                record != nullptr && record->HasExcelResults() ? &record->ExcelResults() : nullptr);
            // At the pointer, inside the screen.
            QRect place(QCursor::pos(), cells->size());
            if (const QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) {
                const QRect room = screen->availableGeometry();
                place.moveRight(std::min(place.right(), room.right()));
                place.moveBottom(std::min(place.bottom(), room.bottom()));
            }
            cells->move(place.topLeft());
            cells->show();
        } else {
            // Through the application registry, which says so when nothing can open it.
            result_menu_->Open({path});
        }
        return nullptr;
    }
    auto* preview = new PreviewWindow(this);
    preview->FilePath = path;
    preview->UseRegEx = regex_->isChecked();
    preview->FindText = driver_->HasHighlight() ? driver_->HighlightText() : std::string();
    preview->IgnoreCase = ignore_case_->isChecked();
    preview->StartLine = line;
    preview->StartColumn = column;
    preview->show();
    preview->Load();
    return preview;
}

std::vector<PreviewWindow*> MainWindow::PreviewFiles() {
    std::vector<PreviewWindow*> opened;
    for (const QModelIndex& row : list_view_->selectionModel()->selectedRows()) {
        if (PreviewWindow* preview = OpenFilePreviewer(file_model_->FullPath(row.row()))) {
            opened.push_back(preview);
        }
    }
    return opened;
}

void MainWindow::BuildPopups() {
    // The mask box: preset masks first, then the usual editing commands.
    mask_->lineEdit()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(mask_->lineEdit(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) {
                QMenu menu(this);
                QMenu* templates = menu.addMenu(QStringLiteral("Search Templates"));
                const std::pair<const char*, const char*> presets[] = {
                    {"Graphic Files (jpeg jpg bmp gif png)", "*.jpeg;*.jpg;*.gif;*.png;*.bmp"},
                    {"Log Files (log)", "*.log"},
                    {"Temporary Files (tmp log)", "*.log;*.tmp"},
                    {"Webpage Files (asp html htm php)",
                     "*.htm;*.html;*.asp;*.aspx;*.css;*.inc;*.php;*.js"},
                    {"Text Files (txt)", "*.txt"},
                };
                for (const auto& [caption, mask] : presets) {
                    const QString text = QString::fromLatin1(mask);
                    connect(templates->addAction(QString::fromLatin1(caption)), &QAction::triggered,
                            this, [this, text] { mask_->setEditText(text); });
                }
                menu.addSeparator();
                QLineEdit* edit = mask_->lineEdit();
                connect(menu.addAction(QStringLiteral("Cut")), &QAction::triggered, edit,
                        &QLineEdit::cut);
                connect(menu.addAction(QStringLiteral("Copy")), &QAction::triggered, edit,
                        &QLineEdit::copy);
                connect(menu.addAction(QStringLiteral("Paste")), &QAction::triggered, edit,
                        &QLineEdit::paste);
                connect(menu.addAction(QStringLiteral("Delete")), &QAction::triggered, edit,
                        &QLineEdit::del);
                menu.exec(edit->mapToGlobal(at));
            });
    // The replace box: the markers for what a one-line box cannot hold.
    replace_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(replace_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        QMenu* special = menu.addMenu(QStringLiteral("Special"));
        const std::pair<const char*, const char*> markers[] = {
            {"New Line (CrLf)", "^^CrLf"}, {"Tab", "^^Tab"}, {"Blank (empty string)", "^^Blank"}};
        for (const auto& [caption, marker] : markers) {
            const QString text = QString::fromLatin1(marker);
            connect(special->addAction(QString::fromLatin1(caption)), &QAction::triggered, this,
                    [this, text] { replace_->setText(text); });
        }
        menu.addSeparator();
        connect(menu.addAction(QStringLiteral("Cut")), &QAction::triggered, replace_,
                &QLineEdit::cut);
        connect(menu.addAction(QStringLiteral("Copy")), &QAction::triggered, replace_,
                &QLineEdit::copy);
        connect(menu.addAction(QStringLiteral("Paste")), &QAction::triggered, replace_,
                &QLineEdit::paste);
        menu.exec(replace_->mapToGlobal(at));
    });
}

void MainWindow::ShowAbout() {
    QDialog about(this);
    about.setWindowTitle(QStringLiteral("About Ferret"));
    auto* layout = new QVBoxLayout(&about);
    layout->addWidget(new QLabel(QStringLiteral("Ferret Version: %1.%2.0.%3")
                                     .arg(FERRET_VERSION_MAJOR)
                                     .arg(FERRET_VERSION_MINOR)
                                     .arg(FERRET_VERSION_PATCH)));
    // Credits scroll upwards; a line that has left the top comes back below the others.
    auto* credits = new QWidget;
    credits->setFixedSize(360, 90);
    const QStringList lines = {QStringLiteral("Ferret finds files and the text in them."),
                               QStringLiteral("Made by Mallo."),
                               QStringLiteral("Built with Qt and PCRE2."),
                               QStringLiteral("Thanks to everyone who reported a problem.")};
    std::vector<QLabel*> labels;
    for (int i = 0; i < lines.size(); ++i) {
        auto* label = new QLabel(lines[i], credits);
        label->setGeometry(0, 10 + i * 28, 360, 24);
        labels.push_back(label);
    }
    layout->addWidget(credits);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    layout->addWidget(ok);
    connect(ok, &QPushButton::clicked, &about, &QDialog::accept);
    QTimer timer;
    connect(&timer, &QTimer::timeout, &about, [labels] {
        for (QLabel* label : labels) {
            int y = label->y() - 2;
            if (y + label->height() < 0) {
                y = static_cast<int>(labels.size()) * 28;
            }
            label->move(0, y);
        }
    });
    timer.start(50);
    about.exec();
}

HelpWindow* MainWindow::ShowHelp() {
    if (help_ == nullptr) {
        help_ = new HelpWindow(this);
    }
    return help_->ShowContents() ? help_ : nullptr;
}

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    QAction* open = file->addAction(QStringLiteral("&Open Configuration"));
    open->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    connect(open, &QAction::triggered, this, [this] { LoadSearchFile(std::string()); });
    QAction* save = file->addAction(QStringLiteral("&Save Configuration"));
    save->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    connect(save, &QAction::triggered, this, [this] { SaveSearchFile(); });
    file->addSeparator();
    save_report_ = file->addAction(QStringLiteral("Save Report"));
    connect(save_report_, &QAction::triggered, this, [this] { SaveReport(); });
    print_report_ = file->addAction(QStringLiteral("&Print Report"));
    print_report_->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    save_report_->setEnabled(false);
    print_report_->setEnabled(false);
    connect(print_report_, &QAction::triggered, this, [this] {
        try {
            PrintDocument::PrintRTF(*report_text_->document(), 1440, 1440, 1440, 1440, this);
        } catch (const std::exception& error) {
            LogError("frmMain: mnuPrint_Click", "1", error.what());
        }
    });
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* tools = menuBar()->addMenu(QStringLiteral("Tools"));
    QMenu* types = tools->addMenu(QStringLiteral("Reporting Type"));
    const QStringList type_texts = {
        QStringLiteral("Detailed file list"), QStringLiteral("Structured report"),
        QStringLiteral("Summary report"), QStringLiteral("Summary report with file list"),
        QStringLiteral("Hit lines")};
    for (int code = 0; code < 5; ++code) {
        report_types_[code] = types->addAction(type_texts[code]);
        report_types_[code]->setCheckable(true);
        connect(report_types_[code], &QAction::triggered, this,
                [this, code] { ChooseReportType(code); });
    }
    tools->addSeparator();
    tools->addAction(preview_action_);
    tools->addSeparator();
    connect(tools->addAction(QStringLiteral("Clear Search History")), &QAction::triggered, this,
            [this] { ClearHistory(); });
    tools->addSeparator();
    QAction* undo = tools->addAction(QStringLiteral("Undo Last Replace"));
    undo->setObjectName(QStringLiteral("mnuUndoLastReplace"));
    connect(undo, &QAction::triggered, this, [this] { UndoLastReplace(); });
    QAction* points = tools->addAction(QStringLiteral("Restore Points..."));
    points->setObjectName(QStringLiteral("mnuRestorePoints"));
    connect(points, &QAction::triggered, this, [this] { ShowRestorePoints(); });
    tools->addSeparator();
    connect(tools->addAction(QStringLiteral("Options")), &QAction::triggered, this,
            [this] { ShowOptions(); });

    QMenu* about = menuBar()->addMenu(QStringLiteral("About"));
    QAction* help = about->addAction(QStringLiteral("Help"));
    help->setShortcut(QKeySequence(Qt::Key_F1));
    connect(help, &QAction::triggered, this, [this] { ShowHelp(); });
    about->addSeparator();
    connect(about->addAction(QStringLiteral("&Mallo's Website")), &QAction::triggered, this,
            [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebAddress))); });
    about->addSeparator();
    connect(about->addAction(QStringLiteral("About Ferret")), &QAction::triggered, this,
            [this] { ShowAbout(); });
}

SearchFields MainWindow::Fields() const {
    SearchFields fields;
    fields.folder = S(folder_->currentText());
    fields.file_mask = S(mask_->currentText());
    fields.include_listed = include_->isChecked();
    fields.recursive = recursive_->isChecked();
    fields.size_option = size_options_->checkedId();
    fields.size_at_least = size_compare_->currentIndex() == 0;
    fields.size_text = S(size_text_->text());
    fields.date_option = date_options_->checkedId();
    fields.date_kind = date_kind_->currentIndex();
    fields.date_from = FromQDateTime(date_from_->dateTime());
    fields.date_to = FromQDateTime(date_to_->dateTime());
    fields.search_text = S(find_->currentText());
    fields.replace_text = S(replace_->text());
    fields.regex = regex_->isChecked();
    fields.ignore_case = ignore_case_->isChecked();
    return fields;
}

void MainWindow::SetFields(const SearchFields& fields) {
    folder_guard_ = true;
    folder_->setEditText(Q(fields.folder));
    folder_guard_ = false;
    if (IsFolder(Q(fields.folder))) {
        folder_tree_->setCurrentIndex(folder_model_->index(Q(fields.folder)));
    }
    mask_->setEditText(Q(fields.file_mask));
    (fields.include_listed ? include_ : exclude_)->setChecked(true);
    recursive_->setChecked(fields.recursive);
    if (QAbstractButton* size = size_options_->button(fields.size_option)) {
        size->click();
    }
    size_compare_->setCurrentIndex(fields.size_at_least ? 0 : 1);
    size_text_->setText(Q(fields.size_text));
    if (QAbstractButton* date = date_options_->button(fields.date_option)) {
        date->click();
    }
    date_kind_->setCurrentIndex(fields.date_kind);
    if (fields.date_from != 0) {
        date_from_->setDateTime(ToQDateTime(fields.date_from));
    }
    if (fields.date_to != 0) {
        date_to_->setDateTime(ToQDateTime(fields.date_to));
    }
    find_->setEditText(Q(fields.search_text));
    replace_->setText(Q(fields.replace_text));
    regex_->setChecked(fields.regex);
    ignore_case_->setChecked(fields.ignore_case);
}

bool MainWindow::StartRun(const QString& mode) {
    if (IsRunning()) {
        return false;
    }
    if (!IsFolder(folder_->currentText())) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Folder Error"),
                        QStringLiteral("The folder you have selected does not exist"),
                        QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    return StartRunWith(S(mode), Fields());
}

bool MainWindow::StartRunWith(const std::string& kind, const SearchFields& fields,
                              std::function<void()> after) {
    run_end_ = std::move(after);
    ClearReportModels();
    // Pause and Stop come on when the run has reset its flags and says it is running.
    search_action_->setEnabled(false);
    running_ = true;
    UpdateReplaceButton();
    run_thread_ = std::thread([this, kind, fields] {
        driver_->StartProcess(kind, fields);
        QMetaObject::invokeMethod(
            this, [this] { OnRunFinished(); }, Qt::QueuedConnection);
    });
    return true;
}

RunView& MainWindow::View() {
    return *view_;
}

std::thread MainWindow::RunUnattended(const CommandLine& line, std::atomic<int>& status) {
    EnableForm(true);
    SearchFields fields = Fields();
    view_->SetUnattended(line.ExitOnComplete());
    return std::thread([this, &line, &status, fields]() mutable {
        status.store(CommandProcess(line, *driver_, *view_, fields));
        const bool exit = line.ExitOnComplete();
        QMetaObject::invokeMethod(
            this,
            [this, fields, exit] {
                view_->SetUnattended(false);
                SetFields(fields);
                EnableForm(false);
                ShowProblemCount();
                if (exit) {
                    close();
                    QApplication::quit();
                }
            },
            Qt::QueuedConnection);
    });
}

void MainWindow::OnRunFinished() {
    if (run_thread_.joinable()) {
        run_thread_.join();
    }
    if (run_end_) {
        std::function<void()> after = std::move(run_end_);
        run_end_ = nullptr;
        after();
    }
    pause_action_->setToolTip(QStringLiteral("Pause the current search"));
    EnableForm(false);
    ShowProblemCount();
}

void MainWindow::ShowProblemCount() {
    const std::size_t not_done = driver_->FileProblems().size();
    problems_button_->setText(QStringLiteral("%1 file(s) not done").arg(not_done));
    problems_button_->setVisible(not_done > 0);
}

ProblemsDialog* MainWindow::ShowProblems(bool modal) {
    auto* dialog = new ProblemsDialog(driver_->FileProblems(), result_menu_.get(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (!modal) {
        dialog->show();
        return dialog;
    }
    dialog->exec();
    return nullptr;
}

void MainWindow::ClearReportModels() {
    file_model_->Clear();
    tree_model_->Clear();
    hit_view_->Clear();
}

void MainWindow::WaitForRun() {
    while (IsRunning()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

void MainWindow::PressPause() {
    const bool paused = driver_->PressPause();
    pause_action_->setToolTip(paused ? QStringLiteral("Resume the current search")
                                     : QStringLiteral("Pause the current search"));
    pause_action_->setIcon(
        style()->standardIcon(paused ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
    if (paused) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void MainWindow::PressStop() {
    driver_->PressStop();
}

bool MainWindow::CanPause() const {
    return pause_action_->isEnabled();
}

void MainWindow::EnableForm(bool running) {
    running_ = running;
    UpdateReplaceButton();
    // Busy while the files are listed; the count of files done once the search has them all.
    progress_->setRange(0, 0);
    progress_->setVisible(running);
    if (!running) {
        task_progress_->Hide();
    }
    pause_action_->setEnabled(running);
    stop_action_->setEnabled(running);
    search_action_->setEnabled(!running);
    folder_->setEnabled(!running);
    find_->setEnabled(!running);
    replace_->setEnabled(!running);
    tree_view_->setEnabled(!running);
    list_view_->setEnabled(!running);
    hit_view_->setEnabled(!running);
}

void MainWindow::UpdateReplaceButton() {
    const bool can = !running_ && !find_->currentText().isEmpty() && !replace_->text().isEmpty();
    replace_action_->setEnabled(can);
    preview_action_->setEnabled(can);
}

PreviewReplaceDialog* MainWindow::PreviewReplace() {
    if (IsRunning() || find_->currentText().isEmpty() || replace_->text().isEmpty()) {
        return nullptr;
    }
    if (!IsFolder(folder_->currentText())) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Folder Error"),
                        QStringLiteral("The folder you have selected does not exist"),
                        QMessageBox::Ok, this);
        box.exec();
        return nullptr;
    }
    const SearchFields fields = Fields();
    auto* dialog = new PreviewReplaceDialog(
        std::make_shared<const ChangeFinder>(fields.search_text, fields.replace_text, fields.regex,
                                             fields.ignore_case),
        this);
    const QPointer<PreviewReplaceDialog> shown(dialog);
    dialog->on_replace = [this, fields](std::vector<ChosenChange> chosen) {
        return ReplaceChosen(fields, std::move(chosen));
    };
    dialog->on_open = [this](const std::string& path, std::int64_t line, std::int64_t column) {
        OpenFilePreviewer(path, line, column);
    };
    // The files the preview finds go to this window's thread together: one hand-off per file
    // would keep it busy when files come thousands a second.
    struct Found {
        QPointer<PreviewReplaceDialog> dialog;
        std::mutex mutex;
        std::vector<PreviewChangesModel::Found> files;  // protected by mutex
        bool posted = false;                            // protected by mutex
    };
    const auto found = std::make_shared<Found>();
    found->dialog = dialog;
    driver_->SetPreviewTaker([this, found](const FileRecord& file, FilePreview& preview) {
        std::lock_guard lock(found->mutex);
        found->files.push_back({file.FullPath(), file.ItemsFound(), std::move(preview)});
        if (found->posted) {
            return;
        }
        found->posted = true;
        QMetaObject::invokeMethod(
            this,
            [found] {
                std::vector<PreviewChangesModel::Found> files;
                {
                    std::lock_guard taken(found->mutex);
                    files.swap(found->files);
                    found->posted = false;
                }
                if (found->dialog != nullptr) {
                    found->dialog->AddFiles(std::move(files));
                }
            },
            Qt::QueuedConnection);
    });
    dialog->show();
    const bool started = StartRunWith("Replace", fields, [this, shown] {
        driver_->SetPreviewTaker({});
        if (shown != nullptr) {
            shown->Finish(driver_->Stopped());
        }
    });
    if (!started) {
        driver_->SetPreviewTaker({});
        dialog->close();
        return nullptr;
    }
    return dialog;
}

bool MainWindow::ReplaceChosen(const SearchFields& fields, std::vector<ChosenChange> chosen) {
    if (IsRunning()) {
        return false;
    }
    driver_->SetChosen(std::make_shared<const std::vector<ChosenChange>>(std::move(chosen)));
    return StartRunWith("Replace", fields, [this] { driver_->SetChosen(nullptr); });
}

void MainWindow::ShowReportView(int code) {
    if (code == 0) {
        reports_->setCurrentWidget(list_view_);
    } else if (code == 1) {
        reports_->setCurrentWidget(tree_view_);
    } else if (code == 2 || code == 3) {
        reports_->setCurrentWidget(report_text_);
    } else if (code == kHitLinesReport) {
        reports_->setCurrentWidget(hit_view_);
    }
}

void MainWindow::ChooseReportType(int code) {
    LogError("frmMain: barMenu_ItemClick",
             SaveSettingValue(kSettingsKey, kReportType, std::to_string(code)));
    RefreshSettings();
}

void MainWindow::ShowOptions() {
    // Both handlers go through LibreOffice: either can be used exactly when it can be started.
    OptionsDialog options(this, [](int) { return FindOfficeSetup().has_value(); });
    options.exec();
    RefreshSettings();
}

bool MainWindow::UndoLastReplace() {
    const std::string base = RestoreFolderSetting();
    if (const Status trusted = CheckRestoreFolder(base);
        !trusted.ok() && trusted.number() != ENOENT) {
        QMessageBox::warning(
            this, QStringLiteral("Undo Last Replace"),
            QStringLiteral("The restore points cannot be used: ") + Q(trusted.description()));
        return false;
    }
    const std::vector<RestorePointInfo> points = ListRestorePoints(base);
    if (points.empty()) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Undo Last Replace"),
                        QStringLiteral("There is no replace run to undo in ") + Q(base),
                        QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    return UndoReplace(points.front().folder, true);
}

void MainWindow::ShowRestorePoints() {
    RestorePointsDialog dialog(RestoreFolderSetting(), this);
    if (dialog.exec() == QDialog::Accepted && !dialog.ChosenFolder().empty()) {
        UndoReplace(dialog.ChosenFolder(), true);
    }
}

bool MainWindow::UndoReplace(const std::string& folder, bool ask) {
    if (IsRunning()) {
        return false;
    }
    RestorePointInfo info;
    if (const Status read = ReadRestorePoint(folder, info); !read.ok()) {
        QMessageBox::warning(this, QStringLiteral("Undo"), Q(read.description()));
        return false;
    }
    if (ask) {
        const QString question =
            QStringLiteral(
                "Undo the replace run of %1?\n\nSearch: %2\nReplace: %3\nFolder: "
                "%4\nFiles to put back: %5\n\nFiles changed since the run are left "
                "as they are.")
                .arg(Q(RestorePointTime(info.created.tv_sec)), Q(info.search_text),
                     Q(info.replace_text), Q(info.start_folder))
                .arg(info.Pending());
        if (QMessageBox::question(this, QStringLiteral("Undo"), question) != QMessageBox::Yes) {
            return false;
        }
    }
    EnableForm(true);
    pause_action_->setEnabled(false);
    stop_action_->setEnabled(false);
    replace_action_->setEnabled(false);
    status_[0]->setText(QStringLiteral("...undoing the replace run"));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    run_thread_ = std::thread([this, folder] {
        UndoOutcome outcome;
        const Status status = UndoRestorePoint(folder, outcome);
        last_undo_ = std::move(outcome);
        QMetaObject::invokeMethod(
            this,
            [this, status] {
                QApplication::restoreOverrideCursor();
                OnRunFinished();
                UpdateReplaceButton();
                ShowUndoOutcome(status);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void MainWindow::ShowUndoOutcome(const Status& status) {
    QString text;
    QMessageBox::Icon icon = QMessageBox::Information;
    if (!status.ok()) {
        LogError("frmMain: UndoReplace", status);
        icon = QMessageBox::Warning;
        text = QStringLiteral("The replace run could not be undone: ") + Q(status.description());
    } else {
        text = QStringLiteral("%1 file(s) restored.").arg(last_undo_.restored);
        if (!last_undo_.refused.empty()) {
            icon = QMessageBox::Warning;
            text += QStringLiteral("\n\n%1 file(s) were left as they are:")
                        .arg(last_undo_.refused.size());
            constexpr std::size_t kShown = 10;
            for (std::size_t i = 0; i < last_undo_.refused.size() && i < kShown; ++i) {
                text += QStringLiteral("\n") + Q(last_undo_.refused[i].path) +
                        QStringLiteral(": ") + Q(last_undo_.refused[i].reason);
            }
            if (last_undo_.refused.size() > kShown) {
                text += QStringLiteral("\n...and %1 more").arg(last_undo_.refused.size() - kShown);
            }
        }
    }
    status_[0]->setText(QStringLiteral("...%1 file(s) restored").arg(last_undo_.restored));
    // Not modal: the window is usable while the outcome is read.
    auto* box = new QMessageBox(icon, QStringLiteral("Undo"), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("undoOutcome"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::RefreshSettings() {
    const int code =
        SettingAsInt(GetSettingValue(kSettingsKey, kReportType, SettingDefault(kReportType)), 0);
    for (int i = 0; i < 5; ++i) {
        report_types_[i]->setChecked(i == code);
    }
    if (IsRunning()) {
        return;  // the run shows its report in the type stored now
    }
    // Drawing the last results again may take a while: it goes to a thread of its own too.
    // The report shows the fields the last run used, whatever the boxes hold now.
    search_action_->setEnabled(false);
    run_thread_ = std::thread([this] {
        driver_->RefreshSettings(false);
        QMetaObject::invokeMethod(
            this, [this] { OnRunFinished(); }, Qt::QueuedConnection);
    });
}

void MainWindow::ToggleFolderTree(bool focus_tree) {
    if (folder_tree_->isVisible()) {
        folder_tree_->hide();
        return;
    }
    PlaceFolderTree();
    folder_tree_->show();
    folder_tree_->raise();
    if (focus_tree) {
        folder_tree_->setFocus();
    }
    folder_tree_->scrollTo(folder_tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
}

void MainWindow::PlaceFolderTree() {
    const int top = folder_->y() + folder_->height() + 1;
    folder_tree_->setGeometry(folder_->x(), top, folder_->width(),
                              std::max(0, report_area_->height() - top));
}

const QString& MainWindow::ReportTextShown() const {
    return report_shown_;
}

QString MainWindow::StatusText(int panel) const {
    return panel >= 1 && panel <= 3 ? status_[panel - 1]->text() : QString();
}

namespace {

constexpr char kConfigurationFilter[] = "Search Configuration Files (*.frs)|*.frs";
constexpr std::int32_t kDialogFlags =
    FileDialogs::OFN_EXPLORER | FileDialogs::OFN_OVERWRITEPROMPT | FileDialogs::OFN_HIDEREADONLY;

}  // namespace

bool MainWindow::LoadSearchFile(std::string file) {
    if (file.empty()) {
        FileDialogs dialog;
        dialog.SetOwner(this);
        dialog.SetDialogTitle("Select a file: ");
        dialog.SetDefaultExt("frs");
        dialog.SetFilter(kConfigurationFilter);
        dialog.Setflags(FileDialogs::OFN_EXPLORER | FileDialogs::OFN_HIDEREADONLY);
        if (dialog.ShowOpen() <= 0) {
            return false;
        }
        file = dialog.Filename();
    }
    // A file that does not exist clears the fields, as an empty search would.
    SearchSettings saved;
    const Status loaded = LoadSearchSettings(file, saved);
    if (!loaded.ok() && loaded.number() != ENOENT) {
        QMessageBox::warning(this, QStringLiteral("Open Configuration"), Q(loaded.description()));
        return false;
    }
    SearchFields fields = Fields();
    fields.search_text = saved.search;
    fields.replace_text = saved.replace;
    fields.file_mask = saved.file_mask;
    fields.folder = saved.path;
    fields.recursive = saved.sub_folders == 1;
    fields.ignore_case = saved.ignore_case == 1;
    fields.regex = saved.regex == 1;
    SetFields(fields);
    return true;
}

bool MainWindow::SaveSearchFile() {
    FileDialogs dialog;
    dialog.SetOwner(this);
    dialog.SetDialogTitle("Select a file: ");
    dialog.SetDefaultExt("frs");
    dialog.SetFilter(kConfigurationFilter);
    dialog.Setflags(kDialogFlags);
    if (dialog.ShowSave() <= 0) {
        return false;
    }
    const SearchFields fields = Fields();
    SearchSettings settings;
    settings.search = fields.search_text;
    settings.replace = fields.replace_text;
    settings.path = fields.folder;
    settings.file_mask = fields.file_mask;
    settings.sub_folders = fields.recursive ? 1 : 0;
    settings.ignore_case = fields.ignore_case ? 1 : 0;
    settings.regex = fields.regex ? 1 : 0;
    if (const Status saved = SaveSearchSettings(dialog.Filename(), settings); !saved.ok()) {
        QMessageBox::warning(this, QStringLiteral("Save Configuration"), Q(saved.description()));
        return false;
    }
    return true;
}

bool MainWindow::SaveReport() {
    FileDialogs dialog;
    dialog.SetOwner(this);
    dialog.SetDialogTitle("Select a file: ");
    dialog.SetDefaultExt("log");
    dialog.SetFilter("Log files (*.log)|*.log");
    dialog.Setflags(kDialogFlags);
    if (dialog.ShowSave() <= 0) {
        return false;
    }
    if (const Status written = WriteReportFile(dialog.Filename(), S(report_shown_));
        !written.ok()) {
        QMessageBox::warning(this, QStringLiteral("Save Report"), Q(written.description()));
        return false;
    }
    return true;
}

void MainWindow::ClearHistory() {
    find_->clear();
    find_->setEditText(QString());
    ClearSearchList();
}

std::vector<std::string> MainWindow::History() const {
    std::vector<std::string> entries;
    for (int i = 0; i < find_->count(); ++i) {
        entries.push_back(S(find_->itemText(i)));
    }
    return entries;
}

void MainWindow::LoadSettings() {
    driver_->RefreshSettings(false);
    folder_guard_ = true;
    const QString folder =
        Q(GetSettingValue(kSettingsKey, kStartupFolder, SettingDefault(kStartupFolder)));
    folder_->setEditText(folder);
    if (IsFolder(folder)) {
        folder_tree_->setCurrentIndex(folder_model_->index(folder));
    }
    folder_guard_ = false;
    const std::string mask =
        GetSettingValue(kSettingsKey, kFileFilterMask, SettingDefault(kFileFilterMask));
    if (mask == "none") {
        mask_->setCurrentIndex(0);
    } else {
        mask_->setEditText(Q(mask));
    }
    const int code =
        SettingAsInt(GetSettingValue(kSettingsKey, kReportType, SettingDefault(kReportType)), 0);
    for (int i = 0; i < 5; ++i) {
        report_types_[i]->setChecked(i == code);
    }
    const int height = SettingAsInt(GetSettingValue(kSettingsKey, kFerretHeight, "-1"), -1);
    const int width = SettingAsInt(GetSettingValue(kSettingsKey, kFerretWidth, "-1"), -1);
    const int top = SettingAsInt(GetSettingValue(kSettingsKey, kFerretTop, "-1"), -1);
    const int left = SettingAsInt(GetSettingValue(kSettingsKey, kFerretLeft, "-1"), -1);
    resize(width > -1 ? TwipsToPixels(width, this) : 1100,
           height > -1 ? TwipsToPixels(height, this) : 720);
    if (top > -1 || left > -1) {
        move(left > -1 ? TwipsToPixels(left, this) : x(),
             top > -1 ? TwipsToPixels(top, this) : y());
    }
    recursive_->setChecked(SettingAsInt(GetSettingValue(kSettingsKey, kSearchSubfolders,
                                                        SettingDefault(kSearchSubfolders)),
                                        0) == 1);
    for (const std::string& entry : GetSearchList()) {
        find_->addItem(Q(entry));
    }
    find_->setEditText(QString());
}

void MainWindow::SaveSettings() {
    constexpr char kLabel[] = "frmMain: Form_Unload";
    LogError(kLabel, SaveSettingValue(kSettingsKey, kStartupFolder, S(folder_->currentText())));
    LogError(kLabel, SaveSettingValue(kSettingsKey, kFerretHeight,
                                      std::to_string(PixelsToTwips(height(), this))));
    LogError(kLabel, SaveSettingValue(kSettingsKey, kFerretWidth,
                                      std::to_string(PixelsToTwips(width(), this))));
    LogError(kLabel,
             SaveSettingValue(kSettingsKey, kFerretTop, std::to_string(PixelsToTwips(y(), this))));
    LogError(kLabel,
             SaveSettingValue(kSettingsKey, kFerretLeft, std::to_string(PixelsToTwips(x(), this))));
    LogError(kLabel, SaveSettingValue(kSettingsKey, kFileFilterMask, S(mask_->currentText())));
    LogError(kLabel, SaveSettingValue(kSettingsKey, kSearchSizeOpt,
                                      std::to_string(size_options_->checkedId())));
    LogError(kLabel, SaveSettingValue(kSettingsKey, kSearchDateOpt,
                                      std::to_string(date_options_->checkedId())));
    LogError(kLabel, SaveSettingValue(kSettingsKey, kSearchSubfolders,
                                      recursive_->isChecked() ? "1" : "0"));
    SaveSearchList(History());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    driver_->PressStop();  // a run of this window, or an unattended one, ends at the next file
    if (IsRunning()) {
        run_thread_.join();
    }
    SaveSettings();
    event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !IsRunning()) {
        StartRun(QStringLiteral("Search"));
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == report_area_ && event->type() == QEvent::Resize && folder_tree_->isVisible()) {
        PlaceFolderTree();
    }
    if (watched == folder_tree_ && event->type() == QEvent::KeyPress &&
        (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape ||
         static_cast<QKeyEvent*>(event)->key() == Qt::Key_F4)) {
        folder_tree_->hide();
        folder_->setFocus();
        return true;
    }
    if (watched == folder_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F4 ||
            (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier))) {
            ToggleFolderTree(true);
            return true;
        }
    }
    // A right press on a row that is not selected adds it to the selection: the menu then acts
    // on the rows shown selected, the pressed one first.
    if (event->type() == QEvent::MouseButtonPress && list_view_ != nullptr &&
        watched == list_view_->viewport() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        const QModelIndex pressed =
            list_view_->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (pressed.isValid() && !list_view_->selectionModel()->isRowSelected(pressed.row())) {
            list_view_->selectionModel()->setCurrentIndex(
                pressed, QItemSelectionModel::Select | QItemSelectionModel::Rows);
            return true;
        }
    }
    // Enter (which then runs the search) and Escape in the box end the tree's job.
    if (event->type() == QEvent::KeyPress && folder_tree_ != nullptr && folder_tree_->isVisible() &&
        watched == folder_->lineEdit()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
            folder_tree_->hide();
            return key == Qt::Key_Escape;
        }
    }
    if ((watched == folder_ || watched == folder_->lineEdit()) &&
        event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        ToggleFolderTree(false);  // the text stays ready for typing
        return false;
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace ferret
