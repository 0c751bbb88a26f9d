// Every window and dialog gives each of its access keys (Alt+letter) to one control or menu, and
// each menu to one of its items, so a key always does what its underlined letter says.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/help_window.h"
#include "app/main_window.h"
#include "app/options_dialog.h"
#include "app/preview_replace_dialog.h"
#include "app/problems_dialog.h"
#include "app/properties_dialog.h"
#include "app/restore_points_dialog.h"
#include "app/result_menu.h"
#include "app/spreadsheet_hits_window.h"
#include "engine/change_finder.h"
#include "preview/find_replace.h"
#include "preview/preview_window.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;

// The letter after the first lone "&" of `text`, lower case; 0 when there is none.
QChar AccessKey(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (text[i + 1] != QLatin1Char('&')) {
                return text[i + 1].toLower();
            }
            ++i;
        }
    }
    return QChar();
}

// Each access key of `window` (its controls, labels with a buddy, group boxes, tabs and its menu
// bar's menus) with the texts that carry it; keys carried more than once are clashes.
std::map<QChar, std::vector<QString>> KeysOf(QWidget& window) {
    std::map<QChar, std::vector<QString>> keys;
    const auto add = [&keys](const QString& text) {
        if (const QChar key = AccessKey(text); !key.isNull()) {
            keys[key].push_back(text);
        }
    };
    const auto counts = [&window](const QWidget* widget) {
        // A control of another window (a dialog owned by this one) has keys of its own, and one
        // that is hidden takes no key.
        return widget->window() == &window && widget->isVisibleTo(&window);
    };
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        if (counts(button) && !button->text().isEmpty()) {
            add(button->text());
        }
    }
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (counts(label) && label->buddy() != nullptr) {
            add(label->text());
        }
    }
    for (QGroupBox* box : window.findChildren<QGroupBox*>()) {
        if (counts(box)) {
            add(box->title());
        }
    }
    for (QTabBar* tabs : window.findChildren<QTabBar*>()) {
        for (int i = 0; counts(tabs) && i < tabs->count(); ++i) {
            add(tabs->tabText(i));
        }
    }
    if (auto* main = qobject_cast<QMainWindow*>(&window); main && main->menuWidget() != nullptr) {
        for (QAction* menu : main->menuBar()->actions()) {
            add(menu->text());
        }
    }
    return keys;
}

// Items without a key, and keys given to two items, in `menus` and their submenus.
std::vector<std::string> MenuFaults(std::vector<QMenu*> menus) {
    std::vector<std::string> faults;
    for (std::size_t m = 0; m < menus.size(); ++m) {
        std::map<QChar, std::vector<QString>> items;
        for (QAction* action : menus[m]->actions()) {
            if (action->isSeparator() || !action->isVisible()) {
                continue;
            }
            if (action->menu() != nullptr) {
                menus.push_back(action->menu());
            }
            const QChar key = AccessKey(action->text());
            if (key.isNull()) {
                faults.push_back("item \"" + action->text().toStdString() + "\" has no key");
            } else {
                items[key].push_back(action->text());
            }
        }
        for (const auto& [key, texts] : items) {
            if (texts.size() > 1) {
                faults.push_back("menu \"" + menus[m]->title().toStdString() + "\" gives Alt+" +
                                 QString(key).toStdString() + " to " +
                                 std::to_string(texts.size()) + " items");
            }
        }
    }
    return faults;
}

// What is wrong with `window`'s access keys: clashes, controls without one, and menus with a
// clash or an item without one.
std::vector<std::string> Faults(QWidget& window) {
    std::vector<std::string> faults;
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        // A tool bar's buttons are its actions, reached through the menus and their shortcuts;
        // options are reached with the arrow keys from the one of their group that has focus.
        // Escape reaches Cancel and Close, Enter the default button.
        auto* push = qobject_cast<QPushButton*>(button);
        const bool by_enter_or_escape =
            push != nullptr && (push->isDefault() || push->text() == QStringLiteral("Cancel") ||
                                push->text() == QStringLiteral("Close"));
        // A label of punctuation ("...") has no letter to give.
        const bool lettered = std::any_of(button->text().begin(), button->text().end(),
                                          [](QChar c) { return c.isLetterOrNumber(); });
        const bool own_key = qobject_cast<QRadioButton*>(button) == nullptr &&
                             !by_enter_or_escape && lettered &&
                             (qobject_cast<QToolButton*>(button) == nullptr ||
                              button->objectName().startsWith(QStringLiteral("panel_")));
        // A box that only shows a state (disabled for good) takes no key.
        if (button->window() == &window && button->isVisibleTo(&window) && button->isEnabled() &&
            own_key && AccessKey(button->text()).isNull()) {
            faults.push_back("control \"" + button->text().toStdString() + "\" has no key");
        }
    }
    for (const auto& [key, texts] : KeysOf(window)) {
        if (texts.size() > 1) {
            std::string clash = "Alt+" + QString(key).toStdString() + ":";
            for (const QString& text : texts) {
                clash += " \"" + text.toStdString() + "\"";
            }
            faults.push_back(clash);
        }
    }
    std::vector<QMenu*> menus;
    if (auto* main = qobject_cast<QMainWindow*>(&window); main && main->menuWidget() != nullptr) {
        for (QAction* action : main->menuBar()->actions()) {
            if (AccessKey(action->text()).isNull()) {
                faults.push_back("menu \"" + action->text().toStdString() + "\" has no key");
            }
            if (action->menu() != nullptr) {
                menus.push_back(action->menu());
            }
        }
    }
    std::vector<std::string> in_menus = MenuFaults(std::move(menus));
    faults.insert(faults.end(), in_menus.begin(), in_menus.end());
    return faults;
}

std::string Listed(const std::vector<std::string>& faults) {
    std::string text;
    for (const std::string& fault : faults) {
        text += fault + "\n";
    }
    return text;
}

// The keys taken, for choosing a free one.
std::string Taken(QWidget& window) {
    std::string text = "taken:";
    for (const auto& [key, texts] : KeysOf(window)) {
        text += " " + QString(key).toStdString() + "=\"" + texts.front().toStdString() + "\"";
    }
    return text + "\n";
}

TEST(AccessKeys, NoTwoAlikeInAnyWindowOrMenu) {
    TempDir dir;
    dir.WriteFile("a.txt", "hit");
    MainWindow window;
    window.show();
    // Every panel open, so that every control can take its key.
    for (QToolButton* title : window.findChildren<QToolButton*>()) {
        if (title->objectName().startsWith(QStringLiteral("panel_")) && !title->isChecked()) {
            title->click();
        }
    }
    EXPECT_TRUE(Faults(window).empty()) << "main window:\n"
                                        << Listed(Faults(window)) << Taken(window);

    OptionsDialog options(&window, [](int) { return false; });
    options.show();
    auto* tabs = options.findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        EXPECT_TRUE(Faults(options).empty())
            << "options, " << tabs->tabText(tab).toStdString() << ":\n"
            << Listed(Faults(options)) << Taken(options);
    }

    PreviewWindow preview;
    preview.show();
    EXPECT_TRUE(Faults(preview).empty()) << "previewer:\n"
                                         << Listed(Faults(preview)) << Taken(preview);
    EXPECT_TRUE(MenuFaults({preview.PopupMenu()}).empty())
        << "previewer's menu:\n"
        << Listed(MenuFaults({preview.PopupMenu()}));
    ResultMenu files(&window);
    const std::unique_ptr<QMenu> file_menu = files.Build({dir.Path("a.txt")});
    ASSERT_NE(file_menu, nullptr);
    EXPECT_TRUE(MenuFaults({file_menu.get()}).empty()) << "file menu:\n"
                                                       << Listed(MenuFaults({file_menu.get()}));
    auto* box = preview.findChild<QPlainTextEdit*>();
    ASSERT_NE(box, nullptr);
    for (const bool replace : {false, true}) {
        FindReplaceDialog* find = FindReplaceDialog::Show(&preview, box, 0, "x", replace, "y");
        ASSERT_NE(find, nullptr);
        EXPECT_TRUE(Faults(*find).empty()) << "find (replace " << replace << "):\n"
                                           << Listed(Faults(*find)) << Taken(*find);
        find->close();
        delete find;
    }

    PreviewReplaceDialog changes(
        std::make_shared<const ChangeFinder>("hit", "HIT", false, false, false), &window);
    changes.show();
    EXPECT_TRUE(Faults(changes).empty()) << "preview replace:\n"
                                         << Listed(Faults(changes)) << Taken(changes);

    ProblemsDialog problems({{dir.Path("a.txt"), "cannot be read"}}, nullptr, &window);
    EXPECT_TRUE(Faults(problems).empty()) << "problems:\n"
                                          << Listed(Faults(problems)) << Taken(problems);
    PropertiesDialog properties(dir.Path("a.txt"), &window);
    EXPECT_TRUE(Faults(properties).empty()) << "properties:\n"
                                            << Listed(Faults(properties)) << Taken(properties);
    RestorePointsDialog points(dir.Path("points"), &window);
    EXPECT_TRUE(Faults(points).empty()) << "restore points:\n"
                                        << Listed(Faults(points)) << Taken(points);
    SpreadsheetHitsWindow cells(&window);
    EXPECT_TRUE(Faults(cells).empty()) << "cells:\n" << Listed(Faults(cells)) << Taken(cells);
    HelpWindow help(&window);
    EXPECT_TRUE(Faults(help).empty()) << "help:\n" << Listed(Faults(help)) << Taken(help);
}

}  // namespace
}  // namespace ferret
