#include "app/report_views.h"

#include <QAction>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTableView>
#include <QTreeView>

#include "app/file_list_model.h"
#include "app/hit_lines_view.h"
#include "app/result_menu.h"
#include "app/structured_model.h"

namespace ferret {

ReportViews::ReportViews(QWidget* owner) : QObject(owner) {
    menu_ = std::make_unique<ResultMenu>(owner);
    menu_->SetPreviewHandler([this](const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            Open(path);
        }
    });
    menu_->SetTrashedHandler(
        [this](const std::vector<std::string>& paths) { file_model_->RemovePaths(paths); });
    menu_->SetEditorHandler([this](const std::string& path) { EditFromMenu(path); });
    BuildList(owner);
    BuildTree();
    // Plain text lays out only what is on screen, so a report of a hundred thousand files shows
    // at once.
    report_text_ = new QPlainTextEdit;
    report_text_->setTabChangesFocus(true);
    report_text_->setObjectName(QStringLiteral("rtbReport"));
    report_text_->setReadOnly(true);
    report_text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    hit_view_ = new HitLinesView;
    hit_view_->on_open = [this](const std::string& path, std::int64_t line, std::int64_t column,
                                std::int32_t page) { Open(path, line, column, page); };
    hit_view_->on_menu = [this](const std::vector<std::string>& paths, const QPoint& global) {
        menu_->Show(paths, global);
    };
    hit_view_->on_edit = [this](const std::string& path, std::int64_t line, std::int64_t column) {
        Edit(path, line, column);
    };
    stack_ = new QStackedWidget;
    stack_->addWidget(list_view_);
    stack_->addWidget(tree_view_);
    stack_->addWidget(report_text_);
    stack_->addWidget(hit_view_);
}

ReportViews::~ReportViews() = default;

void ReportViews::BuildList(QWidget* owner) {
    list_view_ = new QTableView;
    // Tab leaves the list for the next control, as in the other lists; the arrows move in it.
    list_view_->setTabKeyNavigation(false);
    list_view_->setObjectName(QStringLiteral("lvFiles"));
    file_model_ = new FileListModel(this);
    list_view_->setModel(file_model_);
    list_view_->setToolTip(QStringLiteral("Double-click file to preview contents"));
    list_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_view_->verticalHeader()->hide();
    list_view_->verticalHeader()->setDefaultSectionSize(owner->fontMetrics().height() + 4);
    QHeaderView* header = list_view_->horizontalHeader();
    header->setStretchLastSection(true);
    // Room for the folder texts; the flags column takes what is left. Every column is at least
    // as wide as its caption with the sort arrow beside it, at any font size.
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    const int widths[kFileListColumnCount - 1] = {160, 260, 80, 120, 80};
    for (int column = 0; column < kFileListColumnCount - 1; ++column) {
        header->resizeSection(column, std::max(widths[column], header->sectionSizeHint(column)));
    }
    header->setSectionsClickable(true);
    connect(header, &QHeaderView::sectionClicked, this, [this, header](int column) {
        file_model_->ColumnClicked(column);
        header->setSortIndicatorShown(true);
        header->setSortIndicator(file_model_->SortColumn(), file_model_->SortOrder());
    });
    connect(list_view_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { Open(file_model_->FullPath(index.row())); });
    // The right-click menu of the result files, the clicked row first.
    list_view_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_view_->viewport()->installEventFilter(this);  // the right button's selection
    connect(list_view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        menu_->Show(ContextMenuPaths(*list_view_, *file_model_, at),
                    list_view_->viewport()->mapToGlobal(at));
    });
    // The list knows no line of a file's hits: the file opens at its start.
    auto* edit = new QAction(QStringLiteral("Open in &Editor"), list_view_);
    edit->setObjectName(QStringLiteral("actFileEditor"));
    edit->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    edit->setShortcutContext(Qt::WidgetShortcut);
    list_view_->addAction(edit);
    connect(edit, &QAction::triggered, this, [this] {
        if (const QModelIndex current = list_view_->currentIndex(); current.isValid()) {
            Edit(file_model_->FullPath(current.row()), 1, 1);
        }
    });
}

void ReportViews::BuildTree() {
    tree_view_ = new QTreeView;
    tree_view_->setTabKeyNavigation(false);
    tree_view_->setObjectName(QStringLiteral("tvReport"));
    tree_model_ = new StructuredModel(this);
    tree_view_->setModel(tree_model_);
    tree_view_->setHeaderHidden(true);
    tree_view_->setUniformRowHeights(true);
    connect(tree_view_, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { tree_model_->SetExpanded(index, true); });
    connect(tree_view_, &QTreeView::collapsed, this,
            [this](const QModelIndex& index) { tree_model_->SetExpanded(index, false); });
    connect(tree_view_, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { Open(tree_model_->DoubleClickPath(index)); });
}

QWidget* ReportViews::Widget() const {
    return stack_;
}

void ReportViews::Open(const std::string& path, std::int64_t line, std::int64_t column,
                       std::int32_t page) {
    if (on_open) {
        on_open(path, line, column, page);
    }
}

void ReportViews::Edit(const std::string& path, std::int64_t line, std::int64_t column) {
    if (!path.empty() && on_edit) {
        on_edit(path, line, column);
    }
}

void ReportViews::EditFromMenu(const std::string& path) {
    // The hit lines' menu of a file was opened on its row, the current one: the file opens at
    // its first hit.
    if (stack_->currentWidget() == hit_view_ && hit_view_->CurrentPath() == path) {
        hit_view_->EditCurrent();
        return;
    }
    Edit(path, 1, 1);
}

void ReportViews::Show(ReportType report) {
    switch (report) {
        case ReportType::kFileList:
            stack_->setCurrentWidget(list_view_);
            break;
        case ReportType::kStructured:
            stack_->setCurrentWidget(tree_view_);
            break;
        case ReportType::kSummary:
        case ReportType::kSummaryWithFileList:
            stack_->setCurrentWidget(report_text_);
            break;
        case ReportType::kHitLines:
            stack_->setCurrentWidget(hit_view_);
            break;
    }
}

void ReportViews::Clear() {
    file_model_->Clear();
    tree_model_->Clear();
    hit_view_->Clear();
}

void ReportViews::AppendFiles(const std::vector<FileRecord*>& files,
                              const std::string& start_folder, bool searched) {
    ReportBuildInput input;
    input.start_folder = start_folder;
    input.searched = searched;
    if (stack_->currentWidget() == tree_view_) {
        tree_model_->AddFiles(files, input);
        tree_view_->expandToDepth(1);  // as the whole tree opens
        return;
    }
    const FileListRowMaker maker(input);
    std::vector<FileListRow> rows;
    rows.reserve(files.size());
    for (FileRecord* file : files) {
        FileListRow row;
        if (maker.Make(*file, row)) {
            rows.push_back(std::move(row));
        }
    }
    file_model_->AppendRows(std::move(rows));
}

void ReportViews::ShowFileList(FileListRows rows) {
    file_model_->ResetRows(std::move(rows.rows), std::move(rows.owner));
    // Type names ("plain text document") are read whole, not cut.
    list_view_->resizeColumnToContents(kColumnType);
    stack_->setCurrentWidget(list_view_);
}

void ReportViews::ShowStructuredTree(StructuredTree tree) {
    tree_model_->ResetTree(std::move(tree));
    tree_view_->expandToDepth(1);
    stack_->setCurrentWidget(tree_view_);
}

void ReportViews::ShowHitLines(std::shared_ptr<const HitLineTable> table) {
    hit_view_->ShowTable(std::move(table));
    stack_->setCurrentWidget(hit_view_);
}

bool ReportViews::HitLinesShown() const {
    return stack_->currentWidget() == hit_view_;
}

void ReportViews::SetReportText(const QString& text) {
    report_shown_ = text;
    report_text_->setPlainText(text);
}

void ReportViews::SetRunning(bool running) {
    // The rows come as the run finishes their files and may be read and used meanwhile; only
    // their order stays the run's until it ends.
    list_view_->horizontalHeader()->setSectionsClickable(!running);
    hit_view_->Header()->setSectionsClickable(!running);
}

std::vector<std::string> ReportViews::SelectedPaths() const {
    std::vector<std::string> paths;
    for (const QModelIndex& row : list_view_->selectionModel()->selectedRows()) {
        paths.push_back(file_model_->FullPath(row.row()));
    }
    return paths;
}

bool ReportViews::eventFilter(QObject* watched, QEvent* event) {
    // A right press on a row that is not selected adds it to the selection: the menu then acts
    // on the rows shown selected, the pressed one first.
    if (event->type() == QEvent::MouseButtonPress && watched == list_view_->viewport() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        const QModelIndex pressed =
            list_view_->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (pressed.isValid() && !list_view_->selectionModel()->isRowSelected(pressed.row())) {
            list_view_->selectionModel()->setCurrentIndex(
                pressed, QItemSelectionModel::Select | QItemSelectionModel::Rows);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace ferret
