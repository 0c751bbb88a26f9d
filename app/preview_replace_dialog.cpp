#include "app/preview_replace_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <mutex>

#include "app/editor_launcher.h"
#include "app/qt_text.h"
#include "preview/mark_colors.h"
#include "preview/screen_fit.h"
#include "reports/quoted_name.h"

namespace ferret {

namespace {

constexpr quintptr kFileRow = 0;  // internal id of a file's row; a change's is its file + 1
// How many files show their changes as they come (enough to fill the window), and the largest
// that does: a larger file's changes take the window a while to find, so it waits to be opened.
constexpr int kOpenFiles = 20;
constexpr off_t kOpenAtOnceBytes = 4 << 20;

enum Column { kChange = 0, kBefore = 1, kAfter = 2 };

// Draws a line before or after its change with the changed part marked: struck out and red
// before, bold and green after. The part is what differs between the two texts.
class ChangeDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (!index.parent().isValid() || index.column() == kChange) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QString text = item.text;
        item.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, widget);
        const QString other =
            index.siblingAtColumn(index.column() == kBefore ? kAfter : kBefore).data().toString();
        qsizetype prefix = 0;
        while (prefix < text.size() && prefix < other.size() && text[prefix] == other[prefix]) {
            ++prefix;
        }
        qsizetype suffix = 0;
        while (suffix < text.size() - prefix && suffix < other.size() - prefix &&
               text[text.size() - 1 - suffix] == other[other.size() - 1 - suffix]) {
            ++suffix;
        }
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QColor ink =
            option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        QFont marked = option.font;
        QColor mark_ink;
        if (index.column() == kBefore) {
            marked.setStrikeOut(true);
            mark_ink = selected ? ink : MarkColorsFor(option.palette).removed;
        } else {
            marked.setBold(true);
            mark_ink = selected ? ink : MarkColorsFor(option.palette).added;
        }
        painter->save();
        painter->setClipRect(option.rect);
        const QRect area = option.rect.adjusted(4, 0, -4, 0);
        const int baseline = area.top() + (area.height() - option.fontMetrics.height()) / 2 +
                             option.fontMetrics.ascent();
        int x = area.left();
        const auto draw = [&](const QString& piece, const QFont& font, const QColor& color) {
            painter->setFont(font);
            painter->setPen(color);
            painter->drawText(x, baseline, piece);
            x += QFontMetrics(font).horizontalAdvance(piece);
        };
        // A change far along a long line is brought into view: the start of the line gives way
        // to "…" (the whole line is the row's tool tip).
        QString lead = text.left(prefix);
        if (option.fontMetrics.horizontalAdvance(lead) > area.width() / 3) {
            lead = option.fontMetrics.elidedText(lead, Qt::ElideLeft, area.width() / 4);
        }
        draw(lead, option.font, ink);
        draw(text.mid(prefix, text.size() - prefix - suffix), marked, mark_ink);
        draw(text.right(suffix), option.font, ink);
        painter->restore();
    }
};

}  // namespace

PreviewChangesModel::PreviewChangesModel(std::shared_ptr<const ChangeFinder> finder,
                                         QObject* parent)
    : QAbstractItemModel(parent), finder_(std::move(finder)) {}

QModelIndex PreviewChangesModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column > kAfter) {
        return {};
    }
    if (!parent.isValid()) {
        return row < FileCount() ? createIndex(row, column, kFileRow) : QModelIndex();
    }
    if (parent.internalId() != kFileRow) {
        return {};
    }
    const File& file = files_[static_cast<std::size_t>(parent.row())];
    return row < static_cast<int>(file.edits.size())
               ? createIndex(row, column, static_cast<quintptr>(parent.row()) + 1)
               : QModelIndex();
}

QModelIndex PreviewChangesModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kFileRow) {
        return {};
    }
    return createIndex(static_cast<int>(child.internalId() - 1), 0, kFileRow);
}

int PreviewChangesModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return FileCount();
    }
    if (parent.internalId() != kFileRow || parent.column() != 0) {
        return 0;
    }
    return static_cast<int>(files_[static_cast<std::size_t>(parent.row())].edits.size());
}

bool PreviewChangesModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return !files_.empty();
    }
    if (parent.internalId() != kFileRow || parent.column() != 0) {
        return false;
    }
    const File& file = files_[static_cast<std::size_t>(parent.row())];
    return !file.office && file.whole_only.empty() &&
           (file.fetched ? !file.edits.empty() : file.hits > 0);
}

bool PreviewChangesModel::canFetchMore(const QModelIndex& parent) const {
    if (!parent.isValid() || parent.internalId() != kFileRow) {
        return false;
    }
    const File& file = files_[static_cast<std::size_t>(parent.row())];
    return !file.office && !file.fetched && file.whole_only.empty();
}

void PreviewChangesModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent)) {
        Fetch(parent.row());
    }
}

void PreviewChangesModel::Fetch(int row) {
    if (row < 0 || row >= FileCount()) {
        return;
    }
    File& file = files_[static_cast<std::size_t>(row)];
    if (file.office || file.fetched) {
        return;
    }
    RewritePlan plan;
    if (file.seen.size > kOpenAtOnceBytes) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    const Status shown = finder_ ? PreviewChanges(file.path, file.seen, *finder_, file.legacy, plan)
                                 : Status::Error(EINVAL, "no way to work out the changes");
    if (file.seen.size > kOpenAtOnceBytes) {
        QApplication::restoreOverrideCursor();
    }
    if (shown.number() == EFBIG) {
        // Too large to list: it stays chosen, or not, as a whole.
        file.whole_only = shown.description();
        const QModelIndex file_index = index(row, 0);
        emit dataChanged(file_index, file_index.siblingAtColumn(kAfter));
        return;
    }
    // The file stops counting as a whole; it counts again by its changes.
    const bool on = file.chosen_count > 0;
    changes_ -= file.hits;
    if (on) {
        chosen_changes_ -= file.hits;
        --chosen_files_;
    }
    file.fetched = true;
    file.chosen.clear();
    file.chosen_count = 0;
    const QModelIndex file_index = index(row, 0);
    if (!shown.ok()) {
        // Changed since the preview: it would not be written, so it is not chosen.
        file.not_shown = shown.description();
        file.hits = 0;
    } else {
        const auto count = static_cast<int>(plan.edits.size());
        if (count > 0) {
            beginInsertRows(file_index, 0, count - 1);
        }
        file.digest = plan.digest;
        file.edits = std::move(plan.edits);
        file.lines = std::move(plan.lines);
        file.hits = count;
        file.chosen.assign(file.edits.size(), on ? 1 : 0);
        file.chosen_count = on ? count : 0;
        changes_ += count;
        if (on && count > 0) {
            chosen_changes_ += count;
            ++chosen_files_;
        }
        if (count > 0) {
            endInsertRows();
        }
    }
    emit dataChanged(file_index, file_index.siblingAtColumn(kAfter));
    Changed();
}

int PreviewChangesModel::columnCount(const QModelIndex& /*parent*/) const {
    return 3;
}

QVariant PreviewChangesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case kChange:
            return QStringLiteral("File / Line");
        case kBefore:
            return QStringLiteral("Before");
        case kAfter:
            return QStringLiteral("After");
        default:
            return {};
    }
}

Qt::CheckState PreviewChangesModel::FileState(const File& file) const {
    if (file.chosen_count == 0 || file.chosen.empty()) {
        return Qt::Unchecked;
    }
    return file.chosen_count == static_cast<std::int64_t>(file.chosen.size())
               ? Qt::Checked
               : Qt::PartiallyChecked;
}

QVariant PreviewChangesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    if (index.internalId() == kFileRow) {
        const File& file = files_[static_cast<std::size_t>(index.row())];
        if (role == Qt::CheckStateRole && index.column() == kChange) {
            return FileState(file);
        }
        if (role == Qt::ToolTipRole) {
            return Q(file.path);
        }
        if (role != Qt::DisplayRole) {
            return {};
        }
        const std::size_t slash = file.path.rfind('/');
        switch (index.column()) {
            case kChange:
                return Q(file.path.substr(slash == std::string::npos ? 0 : slash + 1));
            case kBefore:
                return Q(file.path.substr(0, slash == std::string::npos ? 0 : slash));
            case kAfter:
                if (!file.not_shown.empty()) {
                    return QStringLiteral("Left out: %1").arg(Q(file.not_shown));
                }
                if (file.office) {
                    return QStringLiteral("%1 hit(s), replaced by LibreOffice as a whole")
                        .arg(file.hits);
                }
                if (!file.whole_only.empty()) {
                    return QStringLiteral("%1 change(s), chosen as a whole: %2")
                        .arg(file.hits)
                        .arg(Q(file.whole_only));
                }
                return QStringLiteral("%1 of %2 change(s) chosen")
                    .arg(file.chosen_count * Weight(file))
                    .arg(file.hits);
            default:
                return {};
        }
    }
    const std::size_t file_at = static_cast<std::size_t>(index.internalId() - 1);
    const File& file = files_[file_at];
    const std::size_t change = static_cast<std::size_t>(index.row());
    if (role == Qt::CheckStateRole && index.column() == kChange) {
        return file.chosen[change] != 0 ? Qt::Checked : Qt::Unchecked;
    }
    if (role == Qt::ToolTipRole && index.column() != kChange) {
        return data(index, Qt::DisplayRole);  // a long line shows cut around its change
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case kChange:
            return QStringLiteral("line %1").arg(file.lines.places[change].number);
        case kBefore:
            return Q(Shown(file_at, change).before);
        case kAfter:
            return Q(Shown(file_at, change).after);
        default:
            return {};
    }
}

const ChangeLine& PreviewChangesModel::Shown(std::size_t file, std::size_t change) const {
    if (file != shown_file_ || change != shown_change_) {
        shown_ = ChangeLineAt(files_[file].lines, files_[file].edits, change);
        shown_file_ = file;
        shown_change_ = change;
    }
    return shown_;
}

Qt::ItemFlags PreviewChangesModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsSelectable;
    if (!Choosable(index)) {
        return flags;  // shown with its reason, greyed: it would not be written
    }
    flags |= Qt::ItemIsEnabled;
    if (index.column() == kChange) {
        flags |= Qt::ItemIsUserCheckable;
    }
    return flags;
}

void PreviewChangesModel::Choose(File& file, std::size_t change, bool on) {
    if ((file.chosen[change] != 0) == on) {
        return;
    }
    file.chosen[change] = on ? 1 : 0;
    const int step = on ? 1 : -1;
    if (file.chosen_count == 0 || (file.chosen_count == 1 && !on)) {
        chosen_files_ += step;
    }
    file.chosen_count += step;
    chosen_changes_ += step * Weight(file);
}

bool PreviewChangesModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole || index.column() != kChange ||
        !Choosable(index)) {
        return false;
    }
    touched_ = true;
    // A file's box that was partly on turns all on; a change's turns that change.
    const bool on = value.toInt() != Qt::Unchecked;
    if (index.internalId() == kFileRow) {
        File& file = files_[static_cast<std::size_t>(index.row())];
        for (std::size_t change = 0; change < file.chosen.size(); ++change) {
            Choose(file, change, on);
        }
        emit dataChanged(index, index.siblingAtColumn(kAfter));
        if (file.fetched && !file.edits.empty()) {
            emit dataChanged(this->index(0, kChange, index),
                             this->index(static_cast<int>(file.edits.size()) - 1, kChange, index));
        }
    } else {
        const QModelIndex file_index = parent(index);
        File& file = files_[static_cast<std::size_t>(file_index.row())];
        Choose(file, static_cast<std::size_t>(index.row()), on);
        emit dataChanged(index, index);
        emit dataChanged(file_index, file_index.siblingAtColumn(kAfter));
    }
    Changed();
    return true;
}

void PreviewChangesModel::AddFiles(std::vector<Found> found) {
    if (found.empty()) {
        return;
    }
    const int first = FileCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(found.size()) - 1);
    if (files_.capacity() < files_.size() + found.size()) {
        files_.reserve(std::max(files_.size() + found.size(), 2 * files_.size()));
    }
    for (Found& one : found) {
        Append(one, std::move(one.preview));
    }
    endInsertRows();
    Changed();
}

const PreviewChangesModel::File& PreviewChangesModel::FileOf(const QModelIndex& index) const {
    return files_[index.internalId() == kFileRow
                      ? static_cast<std::size_t>(index.row())
                      : static_cast<std::size_t>(index.internalId() - 1)];
}

bool PreviewChangesModel::Choosable(const QModelIndex& index) const {
    return index.isValid() && FileOf(index).not_shown.empty();
}

std::string PreviewChangesModel::PathAt(const QModelIndex& index) const {
    return index.isValid() ? FileOf(index).path : std::string();
}

void PreviewChangesModel::ChooseAll(bool on) {
    touched_ = true;
    for (File& file : files_) {
        for (std::size_t change = 0; change < file.chosen.size(); ++change) {
            Choose(file, change, on);
        }
    }
    if (FileCount() > 0) {
        emit dataChanged(index(0, kChange), index(FileCount() - 1, kAfter));
        for (int row = 0; row < FileCount(); ++row) {
            const File& file = files_[static_cast<std::size_t>(row)];
            if (file.fetched && !file.edits.empty()) {
                const QModelIndex parent = index(row, 0);
                emit dataChanged(index(0, kChange, parent),
                                 index(static_cast<int>(file.edits.size()) - 1, kChange, parent));
            }
        }
    }
    Changed();
}

void PreviewChangesModel::Append(Found& found, FilePreview preview) {
    const std::int32_t hits = found.hits;
    File file;
    if (!found.left_out.empty()) {
        // Nothing of it is chosen, now or later: it has no changes to choose from.
        file.path = std::move(found.path);
        file.not_shown = std::move(found.left_out);
        file.fetched = true;
        files_.push_back(std::move(file));
        return;
    }
    file.path = std::move(preview.target.empty() ? found.path : preview.target);
    file.digest = preview.plan.digest;
    file.seen = preview.plan.seen;
    file.legacy = preview.plan.legacy;
    file.office = preview.office;
    file.hits = hits;
    // Chosen as a whole until its changes are worked out.
    file.chosen.assign(1, 1);
    file.chosen_count = 1;
    changes_ += hits;
    chosen_changes_ += hits;
    ++chosen_files_;
    files_.push_back(std::move(file));
}

void PreviewChangesModel::Clear() {
    beginResetModel();
    files_.clear();
    shown_file_ = static_cast<std::size_t>(-1);
    changes_ = 0;
    chosen_changes_ = 0;
    chosen_files_ = 0;
    endResetModel();
    Changed();
}

std::vector<ChosenChange> PreviewChangesModel::Chosen() const {
    std::vector<ChosenChange> chosen;
    for (const File& file : files_) {
        if (file.chosen_count == 0) {
            continue;
        }
        ChosenChange change;
        change.path = file.path;
        change.digest = file.digest;
        change.seen = file.seen;
        change.legacy = file.legacy;
        change.office = file.office;
        change.all = !file.office && !file.fetched;
        for (std::size_t i = 0; file.fetched && i < file.edits.size(); ++i) {
            if (file.chosen[i] != 0) {
                change.edits.push_back(file.edits[i]);
            }
        }
        chosen.push_back(std::move(change));
    }
    return chosen;
}

bool PreviewChangesModel::ChangeAt(const QModelIndex& index, std::string& path, std::int64_t& line,
                                   std::int64_t& column) const {
    if (!index.isValid() || index.internalId() == kFileRow) {
        return false;
    }
    const File& file = files_[static_cast<std::size_t>(index.internalId() - 1)];
    const ChangeLines::Place& change = file.lines.places[static_cast<std::size_t>(index.row())];
    path = file.path;
    line = change.number;
    column = change.column;
    return true;
}

void PreviewChangesModel::Changed() {
    if (on_changed) {
        on_changed();
    }
}

PreviewReplaceDialog::PreviewReplaceDialog(std::shared_ptr<const ChangeFinder> finder,
                                           QWidget* owner)
    : QMainWindow(owner) {
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmPreviewReplace"));
    setWindowTitle(QStringLiteral("Preview Replace"));
    model_ = new PreviewChangesModel(std::move(finder), this);
    view_ = new QTreeView;
    view_->setObjectName(QStringLiteral("tvChanges"));
    view_->setModel(model_);
    view_->setUniformRowHeights(true);
    view_->setItemDelegate(new ChangeDelegate(view_));
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    view_->header()->resizeSection(kChange, digit * 28);
    view_->header()->resizeSection(kBefore, digit * 50);
    description_ = new QLabel;
    description_->setObjectName(QStringLiteral("lblPreviewOf"));
    description_->setWordWrap(true);
    description_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    totals_ = new QLabel;
    totals_->setObjectName(QStringLiteral("lblTotals"));
    replace_ = new QPushButton(QStringLiteral("&Replace Selected"));
    replace_->setObjectName(QStringLiteral("cmdReplaceSelected"));
    replace_->setEnabled(false);
    auto* close_button = new QPushButton(QStringLiteral("&Close"));
    auto* all = new QPushButton(QStringLiteral("Select &All"));
    all->setObjectName(QStringLiteral("cmdChooseAll"));
    auto* none = new QPushButton(QStringLiteral("Select &None"));
    none->setObjectName(QStringLiteral("cmdChooseNone"));
    connect(all, &QPushButton::clicked, this, [this] { model_->ChooseAll(true); });
    connect(none, &QPushButton::clicked, this, [this] { model_->ChooseAll(false); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(all);
    buttons->addWidget(none);
    buttons->addWidget(totals_, 1);
    buttons->addWidget(replace_);
    buttons->addWidget(close_button);
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(description_);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);
    setCentralWidget(central);
    resize(digit * 150, fontMetrics().height() * 36);
    FitOnScreen(*this);

    model_->on_changed = [this] { ShowTotals(); };
    batch_timer_ = new QTimer(this);
    batch_timer_->setSingleShot(true);
    batch_timer_->setInterval(250);
    connect(batch_timer_, &QTimer::timeout, this, [this] { AddWaiting(); });
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    view_->installEventFilter(this);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QMenu* menu = MenuFor(view_->indexAt(at))) {
            menu->popup(view_->viewport()->mapToGlobal(at));
        }
    });
    // Enter or a double click shows the change in its file.
    connect(view_, &QTreeView::activated, this, [this](const QModelIndex& index) {
        std::string path;
        std::int64_t line = 0;
        std::int64_t column = 0;
        if (on_open && model_->ChangeAt(index, path, line, column)) {
            on_open(path, line, column);
        }
    });
    connect(replace_, &QPushButton::clicked, this, [this] {
        std::vector<ChosenChange> chosen = model_->Chosen();
        if (chosen.empty() || !on_replace) {
            return;
        }
        // While another run is under way the choice stays here, to be written after it.
        if (!on_replace(std::move(chosen))) {
            QMessageBox::information(this, windowTitle(),
                                     QStringLiteral("Another run is under way. Replace Selected "
                                                    "when it has ended."));
            return;
        }
        replaced_ = true;
        close();
    });
    ShowTotals();
}

std::function<void(PreviewChangesModel::Found)> PreviewReplaceDialog::Taker() {
    struct Found {
        QPointer<PreviewReplaceDialog> dialog;
        std::mutex mutex;
        std::vector<PreviewChangesModel::Found> files;  // protected by mutex
        bool posted = false;                            // protected by mutex
    };
    const auto found = std::make_shared<Found>();
    found->dialog = this;
    return [found](PreviewChangesModel::Found file) {
        std::lock_guard lock(found->mutex);
        found->files.push_back(std::move(file));
        if (found->posted) {
            return;
        }
        found->posted = true;
        // The dialog may go while the hand-off is on its way: only its thread may look.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
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
    };
}

std::function<void(const FileRecord&, FilePreview&)> PreviewReplaceDialog::FoundTaker() {
    return [take = Taker()](const FileRecord& file, FilePreview& preview) {
        take({file.FullPath(), file.ItemsFound(), std::move(preview), {}});
    };
}

std::function<void(const std::string&, const std::string&)> PreviewReplaceDialog::LeftOutTaker() {
    return [take = Taker()](const std::string& path, const std::string& why) {
        // The reason alone: the row names the file.
        const std::string named = path + ": ";
        take({path, 0, {}, why.rfind(named, 0) == 0 ? why.substr(named.size()) : why});
    };
}

void PreviewReplaceDialog::Describe(const SearchFields& fields) {
    QStringList options;
    if (fields.regex) {
        options << QStringLiteral("regular expression");
    }
    if (fields.ignore_case) {
        options << QStringLiteral("ignore case");
    }
    if (fields.whole_word) {
        options << QStringLiteral("whole words only");
    }
    options << (fields.recursive ? QStringLiteral("subfolders") : QStringLiteral("no subfolders"));
    // Texts and names as the reports write them: a control character cannot break the line.
    description_->setText(
        QStringLiteral("Preview (nothing is written until Replace Selected): replace %1 with %2 "
                       "in %3, files %4; %5.")
            .arg(Q("\"" + EscapedText(fields.search_text) + "\""),
                 Q("\"" + EscapedText(fields.replace_text) + "\""), Q(QuotedName(fields.folder)),
                 Q(EscapedText(fields.file_mask)), options.join(QStringLiteral(", "))));
}

void PreviewReplaceDialog::ToggleSelected() {
    std::vector<QModelIndex> rows;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows(kChange)) {
        if (model_->Choosable(index)) {
            rows.push_back(index);
        }
    }
    if (rows.empty()) {
        return;
    }
    const bool on = model_->data(rows.front(), Qt::CheckStateRole).toInt() != Qt::Checked;
    for (const QModelIndex& index : rows) {
        model_->setData(index, on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    }
}

QMenu* PreviewReplaceDialog::MenuFor(const QModelIndex& index) {
    const std::string path = model_->PathAt(index);
    if (path.empty()) {
        return nullptr;
    }
    std::int64_t line = 1;
    std::int64_t column = 1;
    std::string changed;
    model_->ChangeAt(index, changed, line, column);  // a change's row opens at the change
    delete menu_;
    menu_ = new QMenu(this);
    connect(menu_->addAction(QStringLiteral("Open in &Previewer")), &QAction::triggered, this,
            [this, path, line, column] {
                if (on_open) {
                    on_open(path, line, column);
                }
            });
    connect(menu_->addAction(QStringLiteral("Open in &Editor")), &QAction::triggered, this,
            [this, path, line, column] {
                OpenInEditor(this, {path, line, column});
            });
    connect(menu_->addAction(QStringLiteral("&Copy Path")), &QAction::triggered, this,
            [path] { QApplication::clipboard()->setText(Q(path)); });
    return menu_;
}

bool PreviewReplaceDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        ToggleSelected();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void PreviewReplaceDialog::keyPressEvent(QKeyEvent* event) {
    // Escape closes the window as it closes a dialog (asking when a choice would be lost).
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void PreviewReplaceDialog::closeEvent(QCloseEvent* event) {
    if (!replaced_ && model_->Touched()) {
        const bool close =
            confirm_close ? confirm_close()
                          : QMessageBox::question(
                                this, windowTitle(),
                                QStringLiteral("Close the preview? The changes you chose are not "
                                               "written."),
                                QMessageBox::Close | QMessageBox::Cancel,
                                QMessageBox::Cancel) == QMessageBox::Close;
        if (!close) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

void PreviewReplaceDialog::AddFiles(std::vector<PreviewChangesModel::Found> found) {
    // Files come in small groups from the run; they go into the list a batch at a time, so that
    // the window never spends its time on one row after another.
    if (waiting_.empty()) {
        waiting_ = std::move(found);
    } else {
        std::move(found.begin(), found.end(), std::back_inserter(waiting_));
    }
    // The first files show at once; the rest come every so often, as each batch costs the
    // window a new layout and paint.
    if (model_->FileCount() == 0) {
        AddWaiting();
    } else if (!batch_timer_->isActive()) {
        batch_timer_->start();
    }
}

void PreviewReplaceDialog::AddWaiting() {
    const int before = model_->FileCount();
    std::vector<PreviewChangesModel::Found> batch = std::move(waiting_);
    waiting_.clear();
    model_->AddFiles(std::move(batch));
    // The first files show their changes at once; the rest open on a click.
    for (int file = before; file < std::min(model_->FileCount(), kOpenFiles); ++file) {
        if (model_->FileSize(file) <= kOpenAtOnceBytes) {
            model_->Fetch(file);
            view_->expand(model_->index(file, 0));
        }
    }
}

void PreviewReplaceDialog::Finish(bool stopped) {
    AddWaiting();
    finished_ = true;
    stopped_ = stopped;
    ShowTotals();
}

QString PreviewReplaceDialog::Totals() const {
    return totals_->text();
}

void PreviewReplaceDialog::ShowTotals() {
    QString text = QStringLiteral("%1 of %2 change(s) in %3 of %4 file(s) chosen")
                       .arg(model_->ChosenChanges())
                       .arg(model_->Changes())
                       .arg(model_->ChosenFiles())
                       .arg(model_->FileCount());
    if (!finished_) {
        text += QStringLiteral(" (still looking)");
    } else if (stopped_) {
        text += QStringLiteral(" (stopped: the files after these were not looked at)");
    }
    totals_->setText(text);
    replace_->setEnabled(finished_ && model_->ChosenChanges() > 0);
}

}  // namespace ferret
