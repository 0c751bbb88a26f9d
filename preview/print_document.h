#pragma once

#include <QString>
#include <functional>

class QPrinter;
class QTextDocument;
class QWidget;

namespace ferret {

// Prints a text document page by page within margins given in twips (1/1440 inch), after the
// print dialog. The document is laid out anew for the printer; the one shown is not touched.
class PrintDocument {
  public:
    // Shows the print dialog for `owner`; when the user confirms, prints every page of
    // `document` with the margins (left, top, right, bottom, as the callers have always passed
    // them) and returns the number of pages. Cancelling prints nothing and returns 0. With a
    // `title` (the file or report printed), every page carries it at its head and "page N of M"
    // at its foot, so loose pages can be put back together.
    static int Print(const QTextDocument& document, int left_margin, int top_margin,
                     int right_margin, int bottom_margin, QWidget* owner = nullptr,
                     const QString& title = QString());

    // Prints on a printer that is already set up, without a dialog. Returns the page count.
    static int PrintPages(const QTextDocument& document, QPrinter& printer, int left_margin,
                          int top_margin, int right_margin, int bottom_margin,
                          const QString& title = QString());

    // Stands in for the print dialog: sets the printer up and answers whether to print (tests
    // print to a PDF file this way). Returns the hook it replaces.
    using DialogHook = std::function<bool(QPrinter&)>;
    static DialogHook SetDialogHook(DialogHook hook);
};

}  // namespace ferret
