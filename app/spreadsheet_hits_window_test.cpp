#include "app/spreadsheet_hits_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTreeWidget>
#include <QtTest/QTest>

#include "office/spreadsheet_hits.h"

namespace ferret {
namespace {

TEST(ResultsWindow, ListsTheHitCellsAndClosesOnEscapeOrSpace) {
    SpreadsheetHits results;
    results.Add("First", "$A$1");
    results.Add("First", "C7");
    results.Add("Second", "$B$2");
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Space}) {
        QPointer<SpreadsheetHitsWindow> window = new SpreadsheetHitsWindow;
        window->SetSheetHits(&results);
        QTreeWidget* list = window->List();
        ASSERT_EQ(list->topLevelItemCount(), 3);
        EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("A1"));
        EXPECT_EQ(list->topLevelItem(2)->text(0), QStringLiteral("Second"));
        window->show();
        QTest::keyRelease(list, key);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(window.isNull());
    }
    // A file whose record holds no hit cells shows an empty list.
    SpreadsheetHitsWindow empty;
    empty.setAttribute(Qt::WA_DeleteOnClose, false);
    empty.SetSheetHits(nullptr);
    EXPECT_EQ(empty.List()->topLevelItemCount(), 0);
}

}  // namespace
}  // namespace ferret
