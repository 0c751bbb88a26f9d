#pragma once

#include <QColor>

class QPalette;
class QTextDocument;

namespace ferret {

// The colours that mark what a search found and what a replace changes in a text, chosen for
// the background they are drawn on: deep ones on a light background (as on paper), light ones on
// a dark background, so that the marks stay readable in the light and the dark colour scheme.
struct MarkColors {
    QColor hit;      // a hit, in the previewer and the hit lines
    QColor removed;  // what a replace takes out
    QColor added;    // what a replace puts in
};

// The colours for text on `background`.
MarkColors MarkColorsOn(const QColor& background);
// The colours for text on `palette`'s text background (its Base).
MarkColors MarkColorsFor(const QPalette& palette);

// Gives the text of `document` drawn in `from` the colour `to` (the marks, when the background
// they were chosen for changes), keeping everything else.
void RecolorMarks(QTextDocument& document, const QColor& from, const QColor& to);

}  // namespace ferret
