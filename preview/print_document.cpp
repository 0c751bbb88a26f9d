#include "preview/print_document.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextOption>
#include <algorithm>
#include <memory>
#include <vector>

namespace ferret {
namespace {

PrintDocument::DialogHook& Hook() {
    static PrintDocument::DialogHook hook;
    return hook;
}

}  // namespace

PrintDocument::DialogHook PrintDocument::SetDialogHook(DialogHook hook) {
    DialogHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

int PrintDocument::Print(const QTextDocument& document, int left_margin, int top_margin,
                         int right_margin, int bottom_margin, QWidget* owner,
                         const QString& title) {
    QPrinter printer(QPrinter::HighResolution);
    bool confirmed = false;
    if (Hook()) {
        confirmed = Hook()(printer);
    } else {
        QPrintDialog dialog(&printer, owner);
        confirmed = dialog.exec() == QDialog::Accepted;
    }
    if (!confirmed) {
        return 0;
    }
    return PrintPages(document, printer, left_margin, top_margin, right_margin, bottom_margin,
                      title);
}

int PrintDocument::PrintPages(const QTextDocument& document, QPrinter& printer, int left_margin,
                              int top_margin, int right_margin, int bottom_margin,
                              const QString& title) {
    // Margins count from the paper's edge, whatever the printer cannot reach.
    printer.setFullPage(true);
    const QMarginsF inches(left_margin / 1440.0, top_margin / 1440.0, right_margin / 1440.0,
                           bottom_margin / 1440.0);
    printer.setPageMargins(inches, QPageLayout::Inch);
    printer.setFullPage(false);

    // A copy laid out for the printer's resolution and the margin area; the shown document keeps
    // its own layout.
    std::unique_ptr<QTextDocument> copy(document.clone());
    // Paper has no horizontal scroll bar: long lines wrap at the margin (between words where
    // they can, anywhere else), whatever the window that shows the document does.
    QTextOption wrapping = copy->defaultTextOption();
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    copy->setDefaultTextOption(wrapping);
    copy->documentLayout()->setPaintDevice(&printer);
    copy->setDocumentMargin(0);
    const QRectF area = printer.pageLayout().paintRectPixels(printer.resolution());
    // The title's and the page number's bands come off the text's room.
    const QFontMetricsF metrics(copy->defaultFont(), &printer);
    const qreal band = title.isEmpty() ? 0 : metrics.height() * 2;
    const QRectF body(0, band, area.width(), area.height() - 2 * band);
    copy->setPageSize(body.size());
    copy->pageCount();  // lays it out

    // Each page starts at the top of the first line that would not fit whole on the one before,
    // so no line is cut at a page's foot or printed again at the next one's head. The lines are
    // drawn one by one: a layout asked to draw a page draws the line above it too (hidden by the
    // clip, but still in the file's text). These documents are plain text: no frames or tables.
    struct PageLine {
        QTextLine line;
        QPointF at;  // its layout's position
        qreal top;
    };
    std::vector<PageLine> lines;
    for (QTextBlock block = copy->begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        for (int i = 0; layout != nullptr && i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            lines.push_back({line, layout->position(), layout->position().y() + line.y()});
        }
    }
    std::vector<std::size_t> firsts = {0};  // each page's first line
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const qreal page_top = lines[firsts.back()].top;
        if (lines[i].top + lines[i].line.height() > page_top + body.height()) {
            firsts.push_back(i);
        }
    }
    const int pages = static_cast<int>(firsts.size());

    QPainter painter;
    if (!painter.begin(&printer)) {
        return 0;
    }
    for (int page = 0; page < pages; ++page) {
        if (page > 0) {
            printer.newPage();
        }
        const std::size_t end =
            page + 1 < pages ? firsts[static_cast<std::size_t>(page) + 1] : lines.size();
        if (!title.isEmpty()) {
            painter.setFont(copy->defaultFont());
            painter.drawText(QRectF(0, 0, area.width(), metrics.height()),
                             Qt::AlignLeft | Qt::AlignTop,
                             metrics.elidedText(title, Qt::ElideMiddle, area.width()));
            painter.drawText(
                QRectF(0, area.height() - metrics.height(), area.width(), metrics.height()),
                Qt::AlignRight | Qt::AlignBottom,
                QStringLiteral("page %1 of %2").arg(page + 1).arg(pages));
        }
        const std::size_t first = firsts[static_cast<std::size_t>(page)];
        if (first >= lines.size()) {
            continue;  // an empty document: one blank page
        }
        painter.save();
        painter.setClipRect(body);
        painter.translate(0, body.top() - lines[first].top);
        for (std::size_t i = first; i < end; ++i) {
            lines[i].line.draw(&painter, lines[i].at);
        }
        painter.restore();
    }
    painter.end();
    return pages;
}

}  // namespace ferret
