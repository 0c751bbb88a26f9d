#include "preview/print_document.h"

#include <QAbstractTextDocumentLayout>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>
#include <memory>

namespace ferret {
namespace {

cPrintRTB::DialogHook& Hook() {
    static cPrintRTB::DialogHook hook;
    return hook;
}

}  // namespace

cPrintRTB::DialogHook cPrintRTB::SetDialogHook(DialogHook hook) {
    DialogHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

int cPrintRTB::PrintRTF(const QTextDocument& document, int left_margin, int top_margin,
                        int right_margin, int bottom_margin, QWidget* owner) {
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
    return PrintPages(document, printer, left_margin, top_margin, right_margin, bottom_margin);
}

int cPrintRTB::PrintPages(const QTextDocument& document, QPrinter& printer, int left_margin,
                          int top_margin, int right_margin, int bottom_margin) {
    // Margins count from the paper's edge, whatever the printer cannot reach.
    printer.setFullPage(true);
    const QMarginsF inches(left_margin / 1440.0, top_margin / 1440.0, right_margin / 1440.0,
                           bottom_margin / 1440.0);
    printer.setPageMargins(inches, QPageLayout::Inch);
    printer.setFullPage(false);

    // A copy laid out for the printer's resolution and the margin area; the shown document keeps
    // its own layout.
    std::unique_ptr<QTextDocument> copy(document.clone());
    copy->documentLayout()->setPaintDevice(&printer);
    copy->setDocumentMargin(0);
    const QRectF body = printer.pageLayout().paintRectPixels(printer.resolution());
    copy->setPageSize(body.size());
    const int pages = std::max(1, copy->pageCount());

    QPainter painter;
    if (!painter.begin(&printer)) {
        return 0;
    }
    for (int page = 0; page < pages; ++page) {
        if (page > 0) {
            printer.newPage();
        }
        painter.save();
        const QRectF view(0, page * body.height(), body.width(), body.height());
        painter.translate(0, -view.top());
        painter.setClipRect(view);
        QAbstractTextDocumentLayout::PaintContext context;
        // Lines that only touch the page's edges belong to the pages around it; drawn here they
        // would be hidden by the clip but still be in the file's text.
        context.clip = view.adjusted(0, 0.01, 0, -0.01);
        copy->documentLayout()->draw(&painter, context);
        painter.restore();
    }
    painter.end();
    return pages;
}

}  // namespace ferret
