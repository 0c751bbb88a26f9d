#include "app/hit_lines_view.h"

#include "reports/hit_line_text.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>

#include "app/qt_text.h"
#include "engine/content_search.h"
#include "engine/file_records.h"
#include "preview/mark_colors.h"
#include "preview/text_marks.h"

namespace ferret {

namespace {

// Room for the open/close arrow before a file's name, and for it before a line's number.
constexpr int kArrowWidth = 18;

std::vector<int> SelectedRows(const QListView& list) {
    std::vector<int> rows;
    for (const QModelIndex& index : list.selectionModel()->selectedIndexes()) {
        rows.push_back(index.row());
    }
    return rows;
}

}  // namespace

HitLinesModel::HitLinesModel(QObject* parent) : QAbstractListModel(parent) {}

int HitLinesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

void HitLinesModel::SetTable(std::shared_ptr<const HitLineTable> table, const QString& note) {
    beginResetModel();
    table_ = std::move(table);
    note_ = table_ ? QString() : note;
    const std::size_t files = table_ ? table_->entries.size() : 0;
    order_.resize(files);
    std::iota(order_.begin(), order_.end(), 0);
    open_.assign(files, 1);
    Recount();
    endResetModel();
}

void HitLinesModel::TableGrew() {
    if (!table_) {
        return;
    }
    const std::size_t known = order_.size();
    if (known > 0) {
        // The last file shown before may have more lines now: they go after its others.
        const auto last_entry = static_cast<int>(known - 1);
        const int file =
            static_cast<int>(std::find(order_.begin(), order_.end(), last_entry) - order_.begin());
        const int first = first_row_[static_cast<std::size_t>(file)];
        const int end = static_cast<std::size_t>(file) + 1 < known
                            ? first_row_[static_cast<std::size_t>(file) + 1]
                            : rows_;
        const int before = end - first - 1;
        const int now = LinesShown(file);
        if (now > before) {
            beginInsertRows(QModelIndex(), first + 1 + before, first + now);
            Recount();
            endInsertRows();
        }
        // Its row (its count) and a note that became a line.
        emit dataChanged(index(first), index(first + now));
    }
    const std::size_t files = table_->entries.size();
    if (files > known) {
        order_.resize(files);
        std::iota(order_.begin() + static_cast<std::ptrdiff_t>(known), order_.end(),
                  static_cast<int>(known));
        open_.resize(files, 1);
        int added = 0;
        for (std::size_t file = known; file < files; ++file) {
            added += 1 + LinesShown(static_cast<int>(file));
        }
        beginInsertRows(QModelIndex(), rows_, rows_ + added - 1);
        Recount();
        endInsertRows();
    }
}

int HitLinesModel::LinesShown(int file) const {
    if (!IsOpen(file)) {
        return 0;
    }
    const FileHitLines& entry = FileAt(file);
    // A binary file, or one whose lines are not known, shows a note instead.
    return entry.binary || entry.count == 0 ? 1 : static_cast<int>(entry.count);
}

void HitLinesModel::Recount() {
    first_row_.resize(order_.size());
    int row = 0;
    for (std::size_t file = 0; file < order_.size(); ++file) {
        first_row_[file] = row;
        row += 1 + LinesShown(static_cast<int>(file));
    }
    rows_ = table_ ? row : (note_.isEmpty() ? 0 : 1);
}

HitLinesModel::Place HitLinesModel::PlaceOf(int row) const {
    if (!table_ || row < 0 || row >= rows_) {
        return {};
    }
    const auto after = std::upper_bound(first_row_.begin(), first_row_.end(), row);
    const int file = static_cast<int>(after - first_row_.begin()) - 1;
    return {file, row - first_row_[static_cast<std::size_t>(file)] - 1};
}

int HitLinesModel::RowOfFile(int file) const {
    return first_row_[static_cast<std::size_t>(file)];
}

const FileHitLines& HitLinesModel::FileAt(int file) const {
    return table_->entries[static_cast<std::size_t>(order_[static_cast<std::size_t>(file)])];
}

std::optional<HitLine> HitLinesModel::Line(const Place& place, bool text) const {
    if (place.file < 0 || place.line < 0) {
        return std::nullopt;
    }
    const FileHitLines& entry = FileAt(place.file);
    const auto index = static_cast<std::size_t>(place.line);
    if (entry.binary || index >= entry.count) {
        return std::nullopt;
    }
    if (!text) {
        return table_->lines.At(entry.first + index);
    }
    if (std::optional<HitLine> line = TableLine(*table_, entry, index, reader_)) {
        return line;
    }
    static const std::string kUnreadable =
        "(this line cannot be read again: the file changed or is gone)";
    std::optional<HitLine> gone = table_->lines.At(entry.first + index);
    gone->text = kUnreadable;
    return gone;
}

std::optional<HitLine> HitLinesModel::LineAt(int row) const {
    return Line(PlaceOf(row), true);
}

std::string HitLinesModel::FullPath(int row) const {
    const Place place = PlaceOf(row);
    return place.file < 0 ? std::string() : FileAt(place.file).file->FullPath();
}

QVariant HitLinesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_) {
        return {};
    }
    const Place place = PlaceOf(index.row());
    if (place.file < 0) {
        if (role == Qt::DisplayRole) {
            return note_;
        }
        return role == kKindRole ? QVariant(static_cast<int>(Kind::kNote)) : QVariant();
    }
    const FileHitLines& entry = FileAt(place.file);
    if (place.line < 0) {
        switch (role) {
            case Qt::DisplayRole:
                return Q(entry.file->Filename());
            case kKindRole:
                return static_cast<int>(Kind::kFile);
            case kHitsRole: {
                const std::int32_t hits = table_->HitsOf(entry);
                return hits >= 0 ? QVariant(hits) : QVariant();  // not known while it fills
            }
            case kFolderRole:
                return Q(entry.file->RootPath());
            case kOpenRole:
                return IsOpen(place.file);
            case Qt::ToolTipRole:
                return Q(entry.file->FullPath());
            default:
                return {};
        }
    }
    // Only the text is read from the file, and only for the rows drawn.
    const std::optional<HitLine> line = Line(place, role == Qt::DisplayRole);
    if (!line) {
        if (role == Qt::DisplayRole) {
            const std::int32_t count = table_->HitsOf(entry);
            const QString hits = count >= 0 ? QString::number(count) : QStringLiteral("…");
            return entry.binary
                       ? QStringLiteral("Binary file: %1 hit(s), its bytes not shown").arg(hits)
                       : QStringLiteral(
                             "%1 hit(s); the previewer or the file's own "
                             "application shows them")
                             .arg(hits);
        }
        return role == kKindRole ? QVariant(static_cast<int>(Kind::kNote)) : QVariant();
    }
    switch (role) {
        case Qt::DisplayRole:
            return Q(line->text);
        case kKindRole:
            return static_cast<int>(line->hits > 0 ? Kind::kHit : Kind::kContext);
        case kNumberRole:
            // A document's paragraph or a spreadsheet's cell has no line number.
            return line->number > 0 ? QVariant(static_cast<qlonglong>(line->number)) : QVariant();
        case kPageRole:
            // A PDF's lines are counted by page.
            return line->page > 0 ? QVariant(QStringLiteral("page %1").arg(line->page))
                                  : QVariant();
        default:
            return {};
    }
}

void HitLinesModel::SetOpen(int file, bool open) {
    if (file < 0 || file >= FileCount() || IsOpen(file) == open) {
        return;
    }
    const int first = RowOfFile(file) + 1;
    if (open) {
        open_[static_cast<std::size_t>(file)] = 1;
        const int count = LinesShown(file);
        beginInsertRows(QModelIndex(), first, first + count - 1);
        for (std::size_t after = static_cast<std::size_t>(file) + 1; after < first_row_.size();
             ++after) {
            first_row_[after] += count;
        }
        rows_ += count;
        endInsertRows();
    } else {
        const int count = LinesShown(file);
        beginRemoveRows(QModelIndex(), first, first + count - 1);
        open_[static_cast<std::size_t>(file)] = 0;
        for (std::size_t after = static_cast<std::size_t>(file) + 1; after < first_row_.size();
             ++after) {
            first_row_[after] -= count;
        }
        rows_ -= count;
        endRemoveRows();
    }
    const QModelIndex own = index(RowOfFile(file));
    emit dataChanged(own, own, {kOpenRole});
}

void HitLinesModel::SetAllOpen(bool open) {
    beginResetModel();
    std::fill(open_.begin(), open_.end(), open ? 1 : 0);
    Recount();
    endResetModel();
}

void HitLinesModel::SortBy(int column, Qt::SortOrder order) {
    if (!table_) {
        return;
    }
    beginResetModel();
    // The open state goes with its file.
    std::vector<char> open_by_entry(order_.size());
    for (std::size_t at = 0; at < order_.size(); ++at) {
        open_by_entry[static_cast<std::size_t>(order_[at])] = open_[at];
    }
    std::iota(order_.begin(), order_.end(), 0);
    const auto& entries = table_->entries;
    const auto record = [&entries](int entry) {
        return entries[static_cast<std::size_t>(entry)].file;
    };
    // Ties keep the run's order, so the list is the same for the same clicks.
    if (column == 0) {
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
            return record(a)->Filename() < record(b)->Filename();
        });
    } else if (column == 1) {
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
            return table_->HitsOf(entries[static_cast<std::size_t>(a)]) <
                   table_->HitsOf(entries[static_cast<std::size_t>(b)]);
        });
    } else if (column == 2) {
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
            return record(a)->RootPath() < record(b)->RootPath();
        });
    }
    if (column >= 0 && order == Qt::DescendingOrder) {
        std::reverse(order_.begin(), order_.end());
    }
    for (std::size_t at = 0; at < order_.size(); ++at) {
        open_[at] = open_by_entry[static_cast<std::size_t>(order_[at])];
    }
    Recount();
    endResetModel();
}

std::string HitLinesModel::QuickfixText(std::vector<int> rows) const {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::string text;
    int whole_file = -1;  // a file whose row was taken: its lines are in already
    for (const int row : rows) {
        const Place place = PlaceOf(row);
        if (place.file < 0 || place.file == whole_file) {
            continue;
        }
        const FileHitLines& entry = FileAt(place.file);
        if (place.line < 0) {
            whole_file = place.file;
            for (std::size_t line = 0; line < entry.count && !entry.binary; ++line) {
                const std::optional<HitLine> hit = Line({place.file, static_cast<int>(line)}, true);
                if (hit && hit->hits > 0 && hit->number > 0) {
                    AppendQuickfixLine(text, entry.file->FullPath(), *hit);
                }
            }
        } else if (const std::optional<HitLine> line = LineAt(row); line && line->hits > 0) {
            AppendQuickfixLine(text, entry.file->FullPath(), *line);
        }
    }
    return text;
}

bool HitLinesModel::ForEachQuickfixPiece(const std::function<bool(std::string_view)>& take) const {
    constexpr std::size_t kPiece = std::size_t{1} << 16;
    std::string piece;
    for (int file = 0; file < FileCount(); ++file) {
        const FileHitLines& entry = FileAt(file);
        for (std::size_t line = 0; line < entry.count && !entry.binary; ++line) {
            const std::optional<HitLine> hit = Line({file, static_cast<int>(line)}, true);
            if (hit && hit->hits > 0 && hit->number > 0) {
                AppendQuickfixLine(piece, entry.file->FullPath(), *hit);
            }
            if (piece.size() >= kPiece) {
                if (!take(piece)) {
                    return false;
                }
                piece.clear();
            }
        }
    }
    return piece.empty() || take(piece);
}

namespace {

// Draws the rows of the list in the columns of the header above it.
class HitLinesDelegate : public QStyledItemDelegate {
  public:
    HitLinesDelegate(QHeaderView* header, HitLinesModel* model, QObject* parent)
        : QStyledItemDelegate(parent), header_(header), model_(model) {}

    QSize sizeHint(const QStyleOptionViewItem& option,
                   const QModelIndex& /*index*/) const override {
        return {option.rect.width(), option.fontMetrics.height() + 4};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        item.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, widget);
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QPalette::ColorGroup group =
            (option.state & QStyle::State_Enabled) != 0 ? QPalette::Normal : QPalette::Disabled;
        const QColor ink =
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
        const auto kind =
            static_cast<HitLinesModel::Kind>(index.data(HitLinesModel::kKindRole).toInt());
        const QRect row = option.rect;
        const int left = row.left() - header_->offset();
        painter->save();
        painter->setPen(ink);
        switch (kind) {
            case HitLinesModel::Kind::kFile:
                PaintFile(painter, option, index, style, row, left);
                break;
            case HitLinesModel::Kind::kNote: {
                QFont italic = option.font;
                italic.setItalic(true);
                painter->setFont(italic);
                const int x = model_->Table() != nullptr ? left + 2 * kArrowWidth : left + 4;
                painter->drawText(QRect(x, row.top(), row.right() - x, row.height()),
                                  Qt::AlignVCenter | Qt::AlignLeft,
                                  index.data(Qt::DisplayRole).toString());
                break;
            }
            case HitLinesModel::Kind::kHit:
            case HitLinesModel::Kind::kContext:
                PaintLine(painter, option, index, kind, selected, row, left);
                break;
        }
        painter->restore();
    }

  private:
    void PaintFile(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                   QStyle* style, const QRect& row, int left) const {
        QStyleOption arrow;
        arrow.rect = QRect(left + 2, row.top(), kArrowWidth - 4, row.height());
        arrow.palette = option.palette;
        arrow.state = option.state;
        style->drawPrimitive(index.data(HitLinesModel::kOpenRole).toBool()
                                 ? QStyle::PE_IndicatorArrowDown
                                 : QStyle::PE_IndicatorArrowRight,
                             &arrow, painter, option.widget);
        QFont bold = option.font;
        bold.setBold(true);
        painter->setFont(bold);
        const auto cell = [&](int column, int indent) {
            const int x = left + header_->sectionPosition(column) + indent;
            return QRect(x + 2, row.top(), header_->sectionSize(column) - indent - 4, row.height());
        };
        painter->drawText(
            cell(0, kArrowWidth), Qt::AlignVCenter | Qt::AlignLeft,
            option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                          cell(0, kArrowWidth).width()));
        painter->setFont(option.font);
        painter->drawText(cell(1, 0).adjusted(0, 0, -option.fontMetrics.averageCharWidth(), 0),
                          Qt::AlignVCenter | Qt::AlignRight,
                          index.data(HitLinesModel::kHitsRole).toString());
        const QRect folder = cell(2, 0);
        painter->drawText(
            QRect(folder.left(), folder.top(), row.right() - folder.left(), folder.height()),
            Qt::AlignVCenter | Qt::AlignLeft,
            option.fontMetrics.elidedText(index.data(HitLinesModel::kFolderRole).toString(),
                                          Qt::ElideMiddle, row.right() - folder.left()));
    }

    void PaintLine(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                   HitLinesModel::Kind kind, bool selected, const QRect& row, int left) const {
        const QFontMetrics& metrics = option.fontMetrics;
        const int number_width = metrics.horizontalAdvance(QStringLiteral("0000000"));
        const int number_left = left + kArrowWidth;
        QColor dim = option.palette.color(QPalette::PlaceholderText);
        if (selected) {
            dim = painter->pen().color();
        }
        painter->setPen(dim);
        painter->drawText(QRect(number_left, row.top(), number_width, row.height()),
                          Qt::AlignVCenter | Qt::AlignRight,
                          index.data(HitLinesModel::kNumberRole).toString());
        // Leading blanks are dropped and tabs shown as one blank: the hit stays in view.
        QString text = index.data(Qt::DisplayRole).toString();
        qsizetype lead = 0;
        while (lead < text.size() &&
               (text[lead] == QLatin1Char(' ') || text[lead] == QLatin1Char('\t'))) {
            ++lead;
        }
        text = text.mid(lead);
        text.replace(QLatin1Char('\t'), QLatin1Char(' '));
        int x = number_left + number_width + metrics.horizontalAdvance(QStringLiteral("  "));
        const int baseline = row.top() + (row.height() - metrics.height()) / 2 + metrics.ascent();
        if (const QString page = index.data(HitLinesModel::kPageRole).toString(); !page.isEmpty()) {
            painter->drawText(x, baseline, page);
            x += metrics.horizontalAdvance(page + QStringLiteral("  "));
        }
        if (kind == HitLinesModel::Kind::kContext) {
            painter->drawText(x, baseline, text);
            return;
        }
        const QColor ink = option.palette.color(
            QPalette::Normal, selected ? QPalette::HighlightedText : QPalette::Text);
        QFont bold = option.font;
        bold.setBold(true);
        const QFontMetrics bold_metrics(bold);
        int at = 0;
        for (const TextMark& mark : Marks(text)) {
            if (mark.start < at || mark.length <= 0) {
                continue;
            }
            const QString before = text.mid(at, mark.start - at);
            painter->setFont(option.font);
            painter->setPen(ink);
            painter->drawText(x, baseline, before);
            x += metrics.horizontalAdvance(before);
            const QString hit = text.mid(mark.start, mark.length);
            painter->setFont(bold);
            painter->setPen(selected ? ink : MarkColorsFor(option.palette).hit);
            painter->drawText(x, baseline, hit);
            x += bold_metrics.horizontalAdvance(hit);
            at = mark.start + mark.length;
            if (x > row.right()) {
                return;
            }
        }
        painter->setFont(option.font);
        painter->setPen(ink);
        painter->drawText(x, baseline, text.mid(at));
    }

    // The hits in a line's text, found as the previewer finds them.
    std::vector<TextMark> Marks(const QString& text) const {
        const HitLineTable* table = model_->Table();
        if (table == nullptr || table->marked.empty()) {
            return {};
        }
        std::vector<TextMark> marks;
        if (!FindRunMarks(text, Q(ConvertSpecialChars(table->marked)), table->regex,
                          table->ignore_case, table->whole_word, marks)
                 .ok()) {
            marks.clear();
        }
        return marks;
    }

    QHeaderView* header_;
    HitLinesModel* model_;
};

}  // namespace

HitLinesView::HitLinesView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("hitLinesView"));
    model_ = new HitLinesModel(this);
    auto* captions = new QStandardItemModel(0, 3, this);
    captions->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Hits"), QStringLiteral("Folder")});
    header_ = new QHeaderView(Qt::Horizontal, this);
    header_->setObjectName(QStringLiteral("hitLinesHeader"));
    header_->setModel(captions);
    header_->setSectionsClickable(true);
    header_->setSortIndicatorShown(false);
    header_->setStretchLastSection(true);
    header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A view's own header is as tall as its captions; a header in a layout would otherwise take
    // its much larger minimum size.
    header_->setFixedHeight(header_->sizeHint().height());
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    header_->resizeSection(0, std::max(digit * 32, header_->sectionSizeHint(0)));
    header_->resizeSection(1, std::max(digit * 9, header_->sectionSizeHint(1)));

    list_ = new QListView(this);
    list_->setObjectName(QStringLiteral("lvHitLines"));
    list_->setModel(model_);
    list_->setUniformItemSizes(true);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setLayoutMode(QListView::Batched);
    list_->setBatchSize(200000);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setItemDelegate(new HitLinesDelegate(header_, model_, list_));
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setToolTip(QStringLiteral("Double-click a line to see it in the previewer"));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->installEventFilter(this);
    list_->viewport()->installEventFilter(this);
    // The list's own, so the key works wherever the report is, and only there.
    edit_ = new QAction(QStringLiteral("Open in &Editor"), list_);
    edit_->setObjectName(QStringLiteral("actHitLineEditor"));
    edit_->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    edit_->setShortcutContext(Qt::WidgetShortcut);
    list_->addAction(edit_);
    connect(edit_, &QAction::triggered, this, [this] { EditCurrent(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header_);
    layout->addWidget(list_, 1);

    connect(header_, &QHeaderView::sectionResized, list_->viewport(),
            qOverload<>(&QWidget::update));
    connect(header_, &QHeaderView::sectionClicked, this, [this](int column) {
        const bool again =
            header_->isSortIndicatorShown() && header_->sortIndicatorSection() == column;
        const Qt::SortOrder order = again && header_->sortIndicatorOrder() == Qt::AscendingOrder
                                        ? Qt::DescendingOrder
                                        : Qt::AscendingOrder;
        header_->setSortIndicatorShown(true);
        header_->setSortIndicator(column, order);
        model_->SortBy(column, order);
    });
    connect(list_, &QListView::doubleClicked, this,
            [this](const QModelIndex& index) { Activate(index.row()); });
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex pressed = list_->indexAt(at);
        if (!pressed.isValid() || model_->PlaceOf(pressed.row()).file < 0) {
            return;
        }
        if (!list_->selectionModel()->isSelected(pressed)) {
            list_->selectionModel()->select(pressed, QItemSelectionModel::Select);
        }
        list_->selectionModel()->setCurrentIndex(pressed, QItemSelectionModel::NoUpdate);
        const QPoint global = list_->viewport()->mapToGlobal(at);
        if (model_->PlaceOf(pressed.row()).line < 0) {
            if (on_menu) {
                on_menu(SelectedPaths(), global);
            }
            return;
        }
        QMenu menu(this);
        const int row = pressed.row();
        connect(menu.addAction(QStringLiteral("&Open in Previewer")), &QAction::triggered, this,
                [this, row] { Activate(row); });
        menu.addAction(edit_);  // on the pressed row, which is the current one now
        connect(menu.addAction(QStringLiteral("&Copy Lines")), &QAction::triggered, this,
                [this] { CopySelection(); });
        menu.exec(global);
    });
}

void HitLinesView::ShowTable(std::shared_ptr<const HitLineTable> table) {
    if (table != nullptr && table.get() == model_->Table()) {
        model_->TableGrew();  // the table that filled while the run went: the view stays put
        return;
    }
    header_->setSortIndicatorShown(false);
    model_->SetTable(std::move(table),
                     QStringLiteral("The hit lines are gathered by a run that starts with this "
                                    "report chosen: run it again to see them."));
    list_->scrollToTop();
}

void HitLinesView::Clear() {
    header_->setSortIndicatorShown(false);
    model_->SetTable(nullptr);
}

std::optional<HitLinesView::Target> HitLinesView::TargetOf(int row) const {
    const HitLinesModel::Place place = model_->PlaceOf(row);
    if (place.file < 0) {
        return std::nullopt;
    }
    const FileHitLines& entry = model_->FileAt(place.file);
    if (place.line >= 0 && !entry.binary) {
        const HitLine line = model_->Table()->lines.At(entry.first + place.line);
        return Target{entry.file->FullPath(), line.number, line.column, line.page};
    }
    // A file's own row (or its note) opens it at its first hit.
    for (std::size_t at = entry.first; at < entry.first + entry.count && !entry.binary; ++at) {
        const HitLine line = model_->Table()->lines.At(at);
        if (line.hits > 0) {
            return Target{entry.file->FullPath(), line.number, line.column, line.page};
        }
    }
    return Target{entry.file->FullPath(), 0, 0};
}

void HitLinesView::Activate(int row) {
    if (const std::optional<Target> target = TargetOf(row); target && on_open) {
        on_open(target->path, target->line, target->column, target->page);
    }
}

void HitLinesView::EditCurrent() {
    if (!list_->currentIndex().isValid() || !on_edit) {
        return;
    }
    if (const std::optional<Target> target = TargetOf(list_->currentIndex().row())) {
        // A document's paragraph or a spreadsheet's cell has no line: the file opens at its
        // start.
        on_edit(target->path, std::max<std::int64_t>(target->line, 1),
                std::max<std::int64_t>(target->column, 1));
    }
}

void HitLinesView::ActivateCurrent() {
    if (list_->currentIndex().isValid()) {
        Activate(list_->currentIndex().row());
    }
}

void HitLinesView::CopySelection() {
    std::vector<int> rows = SelectedRows(*list_);
    if (rows.empty() && list_->currentIndex().isValid()) {
        rows.push_back(list_->currentIndex().row());
    }
    const std::string text = model_->QuickfixText(std::move(rows));
    if (!text.empty()) {
        QApplication::clipboard()->setText(Q(text));
    }
}

std::vector<std::string> HitLinesView::SelectedPaths() const {
    std::vector<std::string> paths;
    const auto add = [&paths](std::string path) {
        if (!path.empty() && std::find(paths.begin(), paths.end(), path) == paths.end()) {
            paths.push_back(std::move(path));
        }
    };
    if (list_->currentIndex().isValid()) {
        add(model_->FullPath(list_->currentIndex().row()));
    }
    std::vector<int> rows = SelectedRows(*list_);
    std::sort(rows.begin(), rows.end());
    for (const int row : rows) {
        add(model_->FullPath(row));
    }
    return paths;
}

std::string HitLinesView::CurrentPath() const {
    return list_->currentIndex().isValid() ? model_->FullPath(list_->currentIndex().row())
                                           : std::string();
}

bool HitLinesView::eventFilter(QObject* watched, QEvent* event) {
    // Copy is the list's own, whatever shortcut the window has for it.
    if (watched == list_ && event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        return true;
    }
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy)) {
            CopySelection();
            return true;
        }
        const QModelIndex current = list_->currentIndex();
        const HitLinesModel::Place place =
            current.isValid() ? model_->PlaceOf(current.row()) : HitLinesModel::Place{};
        switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                ActivateCurrent();
                return true;
            case Qt::Key_Left:
                if (place.file >= 0) {
                    if (place.line >= 0 || !model_->IsOpen(place.file)) {
                        // To the file's row, as in a tree.
                        list_->setCurrentIndex(model_->index(model_->RowOfFile(place.file)));
                    } else {
                        model_->SetOpen(place.file, false);
                    }
                    return true;
                }
                break;
            case Qt::Key_Right:
                if (place.file >= 0 && place.line < 0) {
                    model_->SetOpen(place.file, true);
                    return true;
                }
                break;
            default:
                break;
        }
    }
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = mouse->position().toPoint();
        const QModelIndex pressed = list_->indexAt(at);
        if (mouse->button() == Qt::LeftButton && pressed.isValid() &&
            at.x() + header_->offset() < kArrowWidth) {
            const HitLinesModel::Place place = model_->PlaceOf(pressed.row());
            if (place.file >= 0 && place.line < 0) {
                model_->SetOpen(place.file, !model_->IsOpen(place.file));
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace ferret
