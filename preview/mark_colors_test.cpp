#include "preview/mark_colors.h"

#include <gtest/gtest.h>

#include <QPalette>
#include <QTextCursor>
#include <QTextDocument>
#include <cmath>

namespace ferret {
namespace {

// The contrast ratio of two colours as WCAG reckons it, 1 to 21.
double Contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double channel) {
            return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
               0.0722 * linear(color.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Light and dark text backgrounds as the desktops draw them.
TEST(MarkColorsTest, MarksStandOutOnLightAndDarkBackgrounds) {
    for (const QColor& background : {QColor(Qt::white), QColor(240, 240, 240), QColor(35, 35, 35),
                                     QColor(45, 45, 45), QColor(30, 30, 46), QColor(Qt::black)}) {
        const MarkColors colors = MarkColorsOn(background);
        for (const QColor& mark : {colors.hit, colors.removed, colors.added}) {
            EXPECT_GE(Contrast(mark, background), 4.5)
                << mark.name().toStdString() << " on " << background.name().toStdString();
        }
        // Told apart from each other and from plain text's grey.
        EXPECT_NE(colors.hit, colors.removed);
        EXPECT_NE(colors.removed, colors.added);
    }
    // On white the deep blue of the original program.
    EXPECT_EQ(MarkColorsOn(Qt::white).hit, QColor(0, 0, 255));
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    EXPECT_EQ(MarkColorsFor(dark).hit, MarkColorsOn(QColor(35, 35, 35)).hit);
    EXPECT_NE(MarkColorsFor(dark).hit, QColor(0, 0, 255));
}

TEST(MarkColorsTest, RecoloringChangesOnlyTheMarks) {
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat mark;
    mark.setForeground(QColor(0, 0, 255));
    mark.setFontWeight(QFont::Bold);
    QTextCharFormat other;
    other.setForeground(QColor(0, 0, 254));
    cursor.insertText(QStringLiteral("one "));
    cursor.insertText(QStringLiteral("hit"), mark);
    cursor.insertText(QStringLiteral(" two "), QTextCharFormat());
    cursor.insertText(QStringLiteral("near"), other);
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("hit"), mark);

    RecolorMarks(document, QColor(0, 0, 255), QColor(120, 170, 255));
    int recolored = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (fragment.text() == QStringLiteral("hit")) {
                EXPECT_EQ(format.foreground().color(), QColor(120, 170, 255));
                EXPECT_EQ(format.fontWeight(), QFont::Bold);
                ++recolored;
            } else if (fragment.text() == QStringLiteral("near")) {
                EXPECT_EQ(format.foreground().color(), QColor(0, 0, 254));
            } else {
                EXPECT_FALSE(format.hasProperty(QTextFormat::ForegroundBrush))
                    << fragment.text().toStdString();
            }
        }
    }
    EXPECT_EQ(recolored, 2);
    EXPECT_EQ(document.toPlainText(), QStringLiteral("one hit two near\nhit"));
}

}  // namespace
}  // namespace ferret
