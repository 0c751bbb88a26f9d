#include "app/options_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/editor_launcher.h"
#include "settings/app_settings.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "testsupport/message_recorder.h"
#include "testsupport/temp_dir.h"
#include "util/extension_list.h"

namespace ferret {
namespace {

using testing::MessageRecorder;

template <typename T>
T* Find(const QDialog& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QStringList Items(const QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row) {
        texts << list->item(row)->text();
    }
    return texts;
}

QStringList Defaults() {
    QStringList texts;
    for (const std::string& extension : DefaultExtensions()) {
        texts << QString::fromStdString(extension);
    }
    return texts;
}

// The stored text itself: GetSettingValue would give an empty text as the default.
std::string Setting(const char* name) {
    return RegistryValueText(Registry().ValueEx(kHKeyCurrentUser, kSettingsKey, name, kRegString,
                                                std::string("missing")));
}

class OptionsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { StoreDefaults(); }
    void TearDown() override { StoreDefaults(); }

    static void StoreDefaults() {
        for (const char* name :
             {kReportType, kLogging, kDisplayQuickLinks, kAutoReportUpdate, kFileHandlerWord,
              kFileHandlerExcel, kExtList, kEditorCommand, kColorScheme}) {
            ASSERT_TRUE(SaveSettingValue(kSettingsKey, name, SettingDefault(name)).ok()) << name;
        }
    }
    static void Store(const char* name, const std::string& text) {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, name, text).ok()) << name;
    }

    // Types `text` into the extension box and presses "Add".
    static void AddExtension(const OptionsDialog& dialog, const QString& text) {
        Find<QLineEdit>(dialog, "txtExtension")->setText(text);
        Find<QPushButton>(dialog, "cmdAddExt")->click();
    }

    MessageRecorder messages_;
};

TEST_F(OptionsDialogTest, OpeningShowsTheStoredValuesWithoutMessages) {
    Store(kReportType, "2");
    Store(kLogging, "True");
    Store(kDisplayQuickLinks, "True");
    Store(kAutoReportUpdate, "False");
    Store(kFileHandlerWord, "True");
    Store(kExtList, ".log,.sh");
    int availability_asked = 0;
    OptionsDialog dialog(nullptr, [&](int) {
        ++availability_asked;
        return true;
    });
    QApplication::processEvents();

    auto* types = Find<QComboBox>(dialog, "cboReportType");
    ASSERT_EQ(types->count(), 5);
    // Each type keeps its stored code, so that files of older versions keep their meaning.
    for (int code = 0; code < 5; ++code) {
        EXPECT_EQ(types->itemData(code).toInt(), code);
    }
    EXPECT_EQ(types->currentIndex(), 2);
    EXPECT_TRUE(Find<QCheckBox>(dialog, "cbLogging")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(dialog, "cbQuickLinks")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(dialog, "cbAutoUpdate")->isChecked());

    auto* handlers = Find<QListWidget>(dialog, "lbFileHandler");
    ASSERT_EQ(handlers->count(), 2);
    EXPECT_EQ(handlers->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(handlers->item(1)->checkState(), Qt::Unchecked);

    EXPECT_EQ(Items(Find<QListWidget>(dialog, "lbExt")), Defaults() << ".log"
                                                                    << ".sh");
    EXPECT_FALSE(Find<QPushButton>(dialog, "cmdApply")->isEnabled());
    // A handler already checked is not tested again, and filling the controls says nothing.
    EXPECT_EQ(availability_asked, 0);
    EXPECT_TRUE(messages_.messages().empty()) << messages_.Texts().join('|').toStdString();
}

TEST_F(OptionsDialogTest, ChangingQuickLinksWarnsItWaitsForTheNextStart) {
    Store(kDisplayQuickLinks, "True");
    OptionsDialog dialog;
    auto* quick_links = Find<QCheckBox>(dialog, "cbQuickLinks");
    quick_links->click();
    quick_links->click();
    EXPECT_EQ(messages_.messages().size(), 2u);
}

TEST_F(OptionsDialogTest, UnusableReportTypeShowsTheFirst) {
    for (const char* stored : {"5", "-1", "two", "1.5"}) {
        Store(kReportType, stored);
        OptionsDialog dialog;
        EXPECT_EQ(Find<QComboBox>(dialog, "cboReportType")->currentIndex(), 0) << stored;
    }
}

TEST_F(OptionsDialogTest, AddingExtensions) {
    OptionsDialog dialog;
    auto* list = Find<QListWidget>(dialog, "lbExt");
    auto* text = Find<QLineEdit>(dialog, "txtExtension");
    auto* apply = Find<QPushButton>(dialog, "cmdApply");

    AddExtension(dialog, QStringLiteral("xml"));
    EXPECT_EQ(Items(list), Defaults());
    EXPECT_TRUE(text->text().isEmpty());
    EXPECT_FALSE(apply->isEnabled());

    AddExtension(dialog, QStringLiteral("json"));
    EXPECT_EQ(Items(list), Defaults() << ".json");
    EXPECT_TRUE(text->text().isEmpty());
    EXPECT_TRUE(apply->isEnabled());

    AddExtension(dialog, QStringLiteral(".JSON"));
    AddExtension(dialog, QStringLiteral("  "));
    EXPECT_EQ(Items(list), Defaults() << ".json");

    // Enter in the box adds too, and does not close the dialog.
    dialog.show();
    text->setText(QStringLiteral(".as"));
    QTest::keyClick(text, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Items(list), Defaults() << ".json"
                                      << ".as");
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(OptionsDialogTest, CustomExtensionsComeBackInTheirOrder) {
    {
        OptionsDialog dialog;
        AddExtension(dialog, QStringLiteral("log"));
        AddExtension(dialog, QStringLiteral(".sh"));
        Find<QPushButton>(dialog, "cmdOk")->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Setting(kExtList), ".log,.sh");
    OptionsDialog reopened;
    EXPECT_EQ(Items(Find<QListWidget>(reopened, "lbExt")), Defaults() << ".log"
                                                                      << ".sh");
}

TEST_F(OptionsDialogTest, OnlyCustomExtensionsCanBeDeleted) {
    Store(kExtList, ".log,.sh");
    OptionsDialog dialog;
    auto* list = Find<QListWidget>(dialog, "lbExt");
    auto* remove = Find<QPushButton>(dialog, "cmdDelete");
    EXPECT_FALSE(remove->isEnabled());

    list->setCurrentRow(0);  // ".asp"
    EXPECT_FALSE(remove->isEnabled());
    dialog.cmdDelete_Click();
    EXPECT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(list->count(), kDefaultExtensionCount + 2);
    EXPECT_FALSE(Find<QPushButton>(dialog, "cmdApply")->isEnabled());

    list->setCurrentRow(kDefaultExtensionCount);  // ".log"
    ASSERT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_EQ(Items(list), Defaults() << ".sh");
    EXPECT_TRUE(Find<QPushButton>(dialog, "cmdApply")->isEnabled());
    EXPECT_EQ(messages_.messages().size(), 1u);
    // Nothing is stored before OK or Apply.
    EXPECT_EQ(Setting(kExtList), ".log,.sh");
    Find<QPushButton>(dialog, "cmdOk")->click();
    EXPECT_EQ(Setting(kExtList), ".sh");
}

TEST_F(OptionsDialogTest, DefaultDropsTheCustomExtensionsOnSave) {
    Store(kExtList, ".log,.sh");
    OptionsDialog dialog;
    Find<QPushButton>(dialog, "cmdDefault")->click();
    EXPECT_EQ(Items(Find<QListWidget>(dialog, "lbExt")), Defaults());
    EXPECT_TRUE(Find<QPushButton>(dialog, "cmdApply")->isEnabled());
    EXPECT_EQ(Setting(kExtList), ".log,.sh");
    Find<QPushButton>(dialog, "cmdOk")->click();
    EXPECT_EQ(Setting(kExtList), "");
}

TEST_F(OptionsDialogTest, HandlerNeedsItsApplication) {
    {
        OptionsDialog dialog;  // no handler is available
        auto* handlers = Find<QListWidget>(dialog, "lbFileHandler");
        handlers->item(OptionsDialog::kWordHandler)->setCheckState(Qt::Checked);
        handlers->item(OptionsDialog::kExcelHandler)->setCheckState(Qt::Checked);
        EXPECT_EQ(handlers->item(0)->checkState(), Qt::Unchecked);
        EXPECT_EQ(handlers->item(1)->checkState(), Qt::Unchecked);
        EXPECT_EQ(messages_.messages().size(), 2u);
        Find<QPushButton>(dialog, "cmdOk")->click();
        EXPECT_EQ(Setting(kFileHandlerWord), "False");
    }
    messages_.Clear();
    std::vector<int> asked;
    OptionsDialog dialog(nullptr, [&asked](int handler) {
        asked.push_back(handler);
        return handler == OptionsDialog::kWordHandler;
    });
    auto* handlers = Find<QListWidget>(dialog, "lbFileHandler");
    handlers->item(OptionsDialog::kWordHandler)->setCheckState(Qt::Checked);
    handlers->item(OptionsDialog::kExcelHandler)->setCheckState(Qt::Checked);
    EXPECT_EQ(handlers->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(handlers->item(1)->checkState(), Qt::Unchecked);
    EXPECT_EQ(messages_.messages().size(), 1u);
    EXPECT_TRUE(Find<QPushButton>(dialog, "cmdApply")->isEnabled());
    // Unchecking asks nothing.
    handlers->item(OptionsDialog::kWordHandler)->setCheckState(Qt::Unchecked);
    handlers->item(OptionsDialog::kWordHandler)->setCheckState(Qt::Checked);
    EXPECT_EQ(asked, (std::vector<int>{0, 1, 0}));
    Find<QPushButton>(dialog, "cmdOk")->click();
    EXPECT_EQ(Setting(kFileHandlerWord), "True");
    EXPECT_EQ(Setting(kFileHandlerExcel), "False");
}

TEST_F(OptionsDialogTest, CancelKeepsTheStoredValues) {
    Store(kReportType, "1");
    OptionsDialog dialog;
    Find<QComboBox>(dialog, "cboReportType")->setCurrentIndex(3);
    EXPECT_TRUE(Find<QPushButton>(dialog, "cmdApply")->isEnabled());
    Find<QCheckBox>(dialog, "cbLogging")->click();
    AddExtension(dialog, QStringLiteral("log"));
    Find<QPushButton>(dialog, "cmdCancel")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Setting(kReportType), "1");
    EXPECT_EQ(Setting(kLogging), "False");
    EXPECT_EQ(Setting(kExtList), "");
}

TEST_F(OptionsDialogTest, ApplySavesEverythingAndStaysOpen) {
    OptionsDialog dialog;
    dialog.show();
    Find<QComboBox>(dialog, "cboReportType")->setCurrentIndex(3);
    Find<QCheckBox>(dialog, "cbAutoUpdate")->click();
    Find<QCheckBox>(dialog, "cbQuickLinks")->click();
    AddExtension(dialog, QStringLiteral("log"));
    auto* apply = Find<QPushButton>(dialog, "cmdApply");
    apply->click();
    EXPECT_FALSE(apply->isEnabled());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Setting(kReportType), "3");
    EXPECT_EQ(Setting(kAutoReportUpdate), "False");
    EXPECT_EQ(Setting(kDisplayQuickLinks), "True");
    EXPECT_EQ(Setting(kLogging), "False");
    EXPECT_EQ(Setting(kExtList), ".log");
    // Cancel after Apply keeps what Apply stored.
    Find<QPushButton>(dialog, "cmdCancel")->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(Setting(kReportType), "3");
}

// The editor command shows as stored and is stored as typed, blanks around it dropped; an empty
// box stands for the desktop's editor, whose command it shows greyed.
TEST_F(OptionsDialogTest, TheEditorCommandIsShownAndStored) {
    Store(kEditorCommand, "gedit +%l:%c \"%f\"");
    OptionsDialog dialog;
    dialog.show();
    auto* box = Find<QLineEdit>(dialog, "txtEditor");
    EXPECT_EQ(box->text(), QStringLiteral("gedit +%l:%c \"%f\""));
    EXPECT_EQ(box->placeholderText().toStdString(), EditorCommand(AppSettings()));
    EXPECT_FALSE(box->placeholderText().isEmpty());
    auto* apply = Find<QPushButton>(dialog, "cmdApply");
    EXPECT_FALSE(apply->isEnabled());
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("  code -g %f:%l:%c "));
    EXPECT_TRUE(apply->isEnabled());
    apply->click();
    EXPECT_EQ(Setting(kEditorCommand), "code -g %f:%l:%c");
    EXPECT_EQ(ReadAppSettings().editor_command, "code -g %f:%l:%c");
    box->clear();
    Find<QPushButton>(dialog, "cmdOk")->click();
    EXPECT_EQ(Setting(kEditorCommand), "");
    EXPECT_EQ(EditorCommand(ReadAppSettings()), box->placeholderText().toStdString());
}

// Each access key of the dialog is its own, and the editor command's label takes the keyboard
// to its box.
TEST_F(OptionsDialogTest, AccessKeysAreUnique) {
    OptionsDialog dialog;
    std::map<QChar, QStringList> owners;
    const auto add = [&owners](const QString& text) {
        for (qsizetype at = 0; at + 1 < text.size(); ++at) {
            if (text[at] == QLatin1Char('&')) {
                if (text[at + 1] != QLatin1Char('&')) {
                    owners[text[at + 1].toLower()] << text;
                }
                ++at;
            }
        }
    };
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->buddy() != nullptr) {
            add(label->text());
        }
    }
    for (const QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        add(button->text());
    }
    for (const QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
        add(group->title());
    }
    for (const QTabWidget* tabs : dialog.findChildren<QTabWidget*>()) {
        for (int tab = 0; tab < tabs->count(); ++tab) {
            add(tabs->tabText(tab));
        }
    }
    for (const auto& [key, texts] : owners) {
        EXPECT_EQ(texts.size(), 1) << texts.join(QStringLiteral(" | ")).toStdString();
    }
    ASSERT_EQ(owners.count(QLatin1Char('e')), 1u);
    const QLabel* editor_label = nullptr;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("&Editor command:")) {
            editor_label = label;
        }
    }
    ASSERT_NE(editor_label, nullptr);
    EXPECT_EQ(editor_label->buddy(), Find<QLineEdit>(dialog, "txtEditor"));
}

// The encodings: each file's own by default; a name typed is stored when the system knows it and
// refused, with nothing stored, when it does not.
TEST_F(OptionsDialogTest, TextEncodingsAreChosenAndUnknownOnesRefused) {
    OptionsDialog dialog;
    dialog.show();
    auto* read_in = Find<QComboBox>(dialog, "cboTextEncoding");
    auto* unsure = Find<QComboBox>(dialog, "cboLegacyEncoding");
    EXPECT_EQ(read_in->currentIndex(), 0);
    EXPECT_EQ(unsure->currentText(), QStringLiteral("WINDOWS-1252"));
    unsure->setCurrentText(QStringLiteral("KOI8-R"));
    read_in->setCurrentText(QStringLiteral("NO-SUCH-8"));
    auto* apply = Find<QPushButton>(dialog, "cmdApply");
    ASSERT_TRUE(apply->isEnabled());
    apply->click();
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_TRUE(messages_.Texts().join('|').contains(QStringLiteral("NO-SUCH-8")));
    EXPECT_EQ(Setting(kLegacyEncoding), "missing");
    read_in->setCurrentText(QStringLiteral("ISO-8859-2"));
    apply->click();
    EXPECT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(ReadAppSettings().text_encoding, "ISO-8859-2");
    EXPECT_EQ(ReadAppSettings().legacy_encoding, "KOI8-R");
    read_in->setCurrentIndex(0);
    Find<QPushButton>(dialog, "cmdOk")->click();
    EXPECT_EQ(Setting(kTextEncoding), "");
    EXPECT_EQ(ReadAppSettings().text_encoding, "");
}

TEST_F(OptionsDialogTest, TheColorSchemeIsChosenAndToldWhenSaved) {
    Store(kColorScheme, "2");
    OptionsDialog dialog;
    int saved = 0;
    dialog.on_saved = [&saved] { ++saved; };
    dialog.show();
    auto* schemes = Find<QComboBox>(dialog, "cboColorScheme");
    ASSERT_EQ(schemes->count(), 3);
    // The stored codes: the desktop's, light, dark.
    EXPECT_EQ(schemes->itemText(0), QStringLiteral("Follow the desktop"));
    for (int code = 0; code < 3; ++code) {
        EXPECT_EQ(schemes->itemData(code).toInt(), code);
    }
    EXPECT_EQ(schemes->currentText(), QStringLiteral("Dark"));
    schemes->setCurrentIndex(1);
    auto* apply = Find<QPushButton>(dialog, "cmdApply");
    ASSERT_TRUE(apply->isEnabled());
    apply->click();
    EXPECT_EQ(Setting(kColorScheme), "1");
    EXPECT_EQ(saved, 1);
    // Its label's access key goes to it.
    QLabel* label = nullptr;
    for (QLabel* candidate : dialog.findChildren<QLabel*>()) {
        if (candidate->buddy() == schemes) {
            label = candidate;
        }
    }
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("&Color scheme:"));
    schemes->setCurrentIndex(0);
    Find<QPushButton>(dialog, "cmdOk")->click();
    EXPECT_EQ(Setting(kColorScheme), "0");
    EXPECT_EQ(saved, 2);
    // Cancel saves nothing and tells nothing.
    OptionsDialog again;
    again.on_saved = [&saved] { ++saved; };
    Find<QComboBox>(again, "cboColorScheme")->setCurrentIndex(2);
    Find<QPushButton>(again, "cmdCancel")->click();
    EXPECT_EQ(Setting(kColorScheme), "0");
    EXPECT_EQ(saved, 2);
}

TEST_F(OptionsDialogTest, FailedSaveTellsTheUserAndKeepsTheDialogOpen) {
    OptionsDialog dialog;
    dialog.show();
    Find<QComboBox>(dialog, "cboReportType")->setCurrentIndex(2);
    // A configuration folder below a plain file cannot be created, whoever runs the test.
    const testing::TempDir root;
    root.WriteFile("file", "");
    const std::string saved_config = std::getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", root.Path("file/config").c_str(), 1);
    Find<QPushButton>(dialog, "cmdOk")->click();
    Find<QPushButton>(dialog, "cmdApply")->click();
    setenv("XDG_CONFIG_HOME", saved_config.c_str(), 1);

    ASSERT_EQ(messages_.messages().size(), 2u);
    EXPECT_EQ(messages_.messages()[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(Find<QPushButton>(dialog, "cmdApply")->isEnabled());
    EXPECT_EQ(Setting(kReportType), "0");
}

}  // namespace
}  // namespace ferret
