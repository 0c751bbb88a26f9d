#include "preview/mark_colors.h"

#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <vector>

namespace ferret {

MarkColors MarkColorsOn(const QColor& background) {
    if (background.lightness() >= 128) {
        return {QColor(0, 0, 255), QColor(180, 0, 0), QColor(0, 120, 0)};
    }
    // Each stands at least 5:1 against the dark palette's text background, as the deep ones do
    // against white.
    return {QColor(120, 170, 255), QColor(255, 120, 120), QColor(120, 210, 120)};
}

MarkColors MarkColorsFor(const QPalette& palette) {
    return MarkColorsOn(palette.color(QPalette::Base));
}

void RecolorMarks(QTextDocument& document, const QColor& from, const QColor& to) {
    struct Piece {
        int start;
        int length;
    };
    std::vector<Piece> pieces;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (format.hasProperty(QTextFormat::ForegroundBrush) &&
                format.foreground().color() == from) {
                pieces.push_back({fragment.position(), fragment.length()});
            }
        }
    }
    if (pieces.empty()) {
        return;
    }
    QTextCharFormat recolored;
    recolored.setForeground(to);
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    for (const Piece& piece : pieces) {
        cursor.setPosition(piece.start);
        cursor.setPosition(piece.start + piece.length, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(recolored);
    }
    cursor.endEditBlock();
}

}  // namespace ferret
