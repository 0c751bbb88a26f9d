#include "office/office_handlers.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "app/headless_view.h"
#include "app/run_driver.h"
#include "engine/restore_point.h"
#include "engine/run.h"
#include "settings/settings.h"
#include "testsupport/ferret_program.h"
#include "testsupport/temp_dir.h"
#include "util/app_paths.h"

namespace ferret {
namespace {

using testing::Ferret;
using testing::ProgramResult;
using testing::TempDir;

// Runs the fixture maker with LibreOffice on `requests` (a JSON list); its answers.
QJsonArray Fixture(const OfficeSetup& setup, const QJsonArray& requests, const TempDir& dir) {
    const std::string input = dir.Path("fixture-requests.json");
    const std::string output = dir.Path("fixture-answers.json");
    {
        std::ofstream out(input);
        out << QJsonDocument(requests).toJson().toStdString();
    }
    const std::string bridge_dir = setup.bridge.substr(0, setup.bridge.rfind('/'));
    const std::string command =
        setup.python + " '" FERRET_SOURCE_DIR "/testsupport/office_fixture.py' '" + bridge_dir +
        "' '" + setup.soffice + "' < '" + input + "' > '" + output + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        return {};
    }
    std::ifstream in(output);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).array();
}

QJsonObject Document(const std::string& path, const QStringList& paragraphs) {
    return {{"op", "make"},
            {"path", QString::fromStdString(path)},
            {"paragraphs", QJsonArray::fromStringList(paragraphs)}};
}

QJsonObject Sheets(const std::string& path, const QJsonArray& sheets) {
    return {{"op", "make"}, {"path", QString::fromStdString(path)}, {"sheets", sheets}};
}

QJsonObject Dump(const std::string& path) {
    return {{"op", "dump"}, {"path", QString::fromStdString(path)}};
}

// A handler of `Handler` for `path` that looks for `find`, replacing it by `replace` into
// `save_to` when they are given.
template <typename Handler>
std::unique_ptr<Handler> Handle(OfficeLink& link, const std::string& path, const char* find,
                                bool match_case = false, const char* replace = "",
                                const std::string& save_to = {}) {
    auto handler = std::make_unique<Handler>(&link);
    handler->SetFilename(path);
    handler->SetFindText(find);
    handler->SetMatchCase(match_case);
    handler->SetReplaceText(replace);
    handler->SetSaveTo(save_to);
    return handler;
}

std::vector<std::string> Cells(SpreadsheetHits& results) {
    std::vector<std::string> cells;
    for (const SpreadsheetHit& hit : results) {
        cells.push_back(hit.SheetName() + "!" + hit.Cell());
    }
    return cells;
}

// Every test here needs LibreOffice, its Python module and the bridge; they are installed by
// the test script, so their absence fails rather than skips unless FERRET_NO_OFFICE is set.
class OfficeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setup_ = FindOfficeSetup();
        if (!setup_ && std::getenv("FERRET_NO_OFFICE") != nullptr) {
            GTEST_SKIP() << "LibreOffice is not installed";
        }
        ASSERT_TRUE(setup_.has_value()) << "LibreOffice, python3-uno or the bridge is missing";
    }
    void TearDown() override {
        Handlers("False", "False");
        (void)SaveSettingValue(kSettingsKey, kRestoreFolder, "");
    }
    // Has LibreOffice make every file `requests` describe.
    void Make(const QJsonArray& requests) {
        ASSERT_EQ(Fixture(*setup_, requests, dir_).size(), requests.size());
    }
    // Writes `name`, a bridge that runs the real one after `change` has altered it.
    std::string Bridge(const std::string& name, const std::string& change) {
        const std::string bridge_dir = setup_->bridge.substr(0, setup_->bridge.rfind('/'));
        dir_.WriteFile(name, "import os, sys, time\nsys.path.insert(0, '" + bridge_dir +
                                 "')\nimport ferret_office_bridge as bridge\n" + change +
                                 "sys.exit(bridge.main())\n");
        return dir_.Path(name);
    }
    static void Handlers(const char* word, const char* excel) {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kFileHandlerWord, word).ok());
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kFileHandlerExcel, excel).ok());
    }
    std::optional<OfficeSetup> setup_;
    TempDir dir_;
};

// Every format, old and current: counted with and without match case (a template like a
// document), replaced into a new file saved in the format it was read in, the file read never
// written; spreadsheet hits are relative cells, and a spreadsheet replace sets whole cells, only
// when there is a replacement text.
TEST_F(OfficeTest, FindAndReplaceInEveryFormat) {
    const QJsonArray book{
        QJsonArray{"Intro", QJsonArray{QJsonArray{"nothing", "here"}}},
        QJsonArray{"Data", QJsonArray{QJsonArray{"a needle", "x", "Needles"},
                                      QJsonArray{"", "", ""}, QJsonArray{"y", "needle", ""}}}};
    const struct {
        const char* name;
        const char* filter;
    } documents[] = {{"a.doc", "MS Word 97"}, {"b.docx", "MS Word 2007 XML"}, {"c.odt", "writer8"}},
      sheets[] = {
          {"d.xls", "MS Excel 97"}, {"e.xlsx", "Calc MS Excel 2007 XML"}, {"f.ods", "calc8"}};
    QJsonArray make = {
        Document(dir_.Path("form.dot"), {"needle template"}),
        Sheets(dir_.Path("plan.xlt"),
               QJsonArray{QJsonArray{"Only", QJsonArray{QJsonArray{"the needle"}}}})};
    for (const auto& document : documents) {
        make.append(
            Document(dir_.Path(document.name), {"Dear Needle,", "a needle and a NEEDLE.", "end"}));
    }
    for (const auto& sheet : sheets) {
        make.append(Sheets(dir_.Path(sheet.name), book));
    }
    ASSERT_NO_FATAL_FAILURE(Make(make));
    OfficeLink link(*setup_);
    QJsonArray dumps = {Dump(dir_.Path("plan.xlt"))};
    for (const auto& document : documents) {
        SCOPED_TRACE(document.name);
        const std::string before = dir_.ReadFile(document.name);
        const std::string path = dir_.Path(document.name);
        EXPECT_EQ(Handle<DocumentHandler>(link, path, "needle")->Find(), 3);
        EXPECT_EQ(Handle<DocumentHandler>(link, path, "needle", true)->Find(), 1);
        const auto change = Handle<DocumentHandler>(link, path, "needle", false, "pin",
                                                    dir_.Path(std::string("new-") + document.name));
        EXPECT_EQ(change->Replace(), 3);
        EXPECT_TRUE(change->Saved());
        EXPECT_EQ(dir_.ReadFile(document.name), before);
        dumps.append(Dump(dir_.Path(std::string("new-") + document.name)));
    }
    EXPECT_EQ(Handle<DocumentHandler>(link, dir_.Path("form.dot"), "NEEDLE")->Find(), 1);
    // Without a new file to save to nothing is written, and the call says why.
    const auto nowhere = Handle<DocumentHandler>(link, dir_.Path("a.doc"), "needle", false, "pin");
    EXPECT_EQ(nowhere->Replace(), -1);
    EXPECT_NE(nowhere->ErrorText().find("no new file"), std::string::npos);
    EXPECT_FALSE(nowhere->Saved());
    for (const auto& sheet : sheets) {
        SCOPED_TRACE(sheet.name);
        const std::string path = dir_.Path(sheet.name);
        const auto find = Handle<SpreadsheetHandler>(link, path, "needle");
        EXPECT_EQ(find->Find(), 3);
        EXPECT_EQ(Cells(find->SheetHits()),
                  (std::vector<std::string>{"Data!C1", "Data!B3", "Data!A1"}));
        EXPECT_EQ(find->ErrCode(), 0);
        EXPECT_EQ(Handle<SpreadsheetHandler>(link, path, "needle", true)->Find(), 2);
        const auto rewrite = Handle<SpreadsheetHandler>(
            link, path, "needle", false, "pin", dir_.Path(std::string("new-") + sheet.name));
        EXPECT_EQ(rewrite->Find(), 3);  // a replacement text rewrites even on Find
        EXPECT_TRUE(rewrite->Saved());
        dumps.append(Dump(dir_.Path(std::string("new-") + sheet.name)));
    }
    const auto counted = Handle<SpreadsheetHandler>(link, dir_.Path("plan.xlt"), "needle", false,
                                                    "", dir_.Path("plan-new.xlt"));
    EXPECT_EQ(counted->Replace(), 1);
    EXPECT_FALSE(counted->Saved());
    EXPECT_EQ(link.Starts(), 1);  // one LibreOffice served every file

    const QJsonArray dumped = Fixture(*setup_, dumps, dir_);
    ASSERT_EQ(dumped.size(), dumps.size());
    EXPECT_EQ(dumped[0].toObject()["sheets"].toArray()[0].toArray()[1].toArray()[0].toArray()[0],
              QStringLiteral("the needle"));
    for (std::size_t i = 0; i < std::size(documents); ++i) {
        const QJsonObject document = dumped[static_cast<qsizetype>(1 + i)].toObject();
        EXPECT_EQ(document["filter"].toString().toStdString(), documents[i].filter);
        EXPECT_EQ(document["text"].toString(), QStringLiteral("Dear pin,\na pin and a pin.\nend"));
    }
    for (std::size_t i = 0; i < std::size(sheets); ++i) {
        const QJsonObject sheet = dumped[static_cast<qsizetype>(4 + i)].toObject();
        EXPECT_EQ(sheet["filter"].toString().toStdString(), sheets[i].filter);
        const QJsonArray data = sheet["sheets"].toArray()[1].toArray()[1].toArray();
        EXPECT_EQ(data[0].toArray()[0].toString(), QStringLiteral("pin"));
        EXPECT_EQ(data[0].toArray()[2].toString(), QStringLiteral("pin"));  // "Needles" as a whole
        EXPECT_EQ(data[2].toArray()[1].toString(), QStringLiteral("pin"));
        EXPECT_EQ(data[2].toArray()[0].toString(), QStringLiteral("y"));
    }
    // Nothing else was left beside the files.
    EXPECT_EQ(dir_.Names().size(), 2 + make.size() + std::size(documents) + std::size(sheets));
}

TEST_F(OfficeTest, FilesThatCannotBeOpenedAndTheHandlerList) {
    dir_.WriteFile("broken.doc", std::string("\xD0\xCF\x11\xE0 not really a document", 27));
    OfficeLink link(*setup_);
    const auto broken = Handle<DocumentHandler>(link, dir_.Path("broken.doc"), "x");
    EXPECT_EQ(broken->Find(), -1);
    EXPECT_NE(broken->ErrCode(), 0);
    EXPECT_FALSE(broken->ErrorText().empty());
    const auto missing = Handle<SpreadsheetHandler>(link, dir_.Path("missing.xls"), "x");
    EXPECT_EQ(missing->Find(), 0);  // a spreadsheet counts what it found before the error
    EXPECT_NE(missing->ErrCode(), 0);

    // The list follows the settings; extensions match whole and in any case.
    Handlers("True", "True");
    EXPECT_EQ(GetHandlerExtensions(true, ReadAppSettings()),
              ".xls|.xlt|.xlsx|.ods|.doc|.dot|.docx|.odt|");
    EXPECT_EQ(GetHandlerExtensions(false, ReadAppSettings()), "");
    Handlers("true", "True");
    const std::string sheets_only = GetHandlerExtensions(true, ReadAppSettings());
    EXPECT_EQ(sheets_only, ".xls|.xlt|.xlsx|.ods|");
    EXPECT_TRUE(UseSpecialFileHandler("A.XLT", sheets_only));
    EXPECT_TRUE(UseSpecialFileHandler("b.Ods", sheets_only));
    EXPECT_FALSE(UseSpecialFileHandler("a.xlsm", sheets_only));
    EXPECT_TRUE(IsSpreadsheetName("c.XLSX"));
    EXPECT_FALSE(IsSpreadsheetName("c.odt"));
    EXPECT_FALSE(UseSpecialFileHandler("a.doc", sheets_only));
    EXPECT_FALSE(UseSpecialFileHandler("a.ls", sheets_only));
    EXPECT_FALSE(UseSpecialFileHandler("xls", sheets_only));
    EXPECT_FALSE(UseSpecialFileHandler("a.xls.txt", sheets_only));
}

// A run with the handlers on: documents and spreadsheets counted by LibreOffice, the summary
// listing hit cells under their sheets; with the handlers off they are searched as bytes.
TEST_F(OfficeTest, RunsUseTheHandlersOnlyWhenSwitchedOn) {
    ASSERT_NO_FATAL_FAILURE(
        Make({Document(dir_.Path("a.doc"), {"find the word here"}),
              Sheets(dir_.Path("b.xls"),
                     QJsonArray{QJsonArray{"S1", QJsonArray{QJsonArray{"word"}}},
                                QJsonArray{"S2", QJsonArray{QJsonArray{"", "a word"}}}})}));
    dir_.WriteFile("c.txt", "word");
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
    SearchFields fields;
    fields.folder = dir_.path();
    fields.file_mask = "*.doc;*.xls;*.txt";
    fields.search_text = "word";
    {
        HeadlessView view;
        RunDriver driver(view);
        Handlers("True", "True");
        driver.StartProcess({RunKind::kSearch, fields});
        const std::string& report = view.ReportText();
        EXPECT_NE(report.find(" [1]\t.../a.doc\n"), std::string::npos) << report;
        EXPECT_NE(report.find(" [2]\t.../b.xls\n\t\tSheet: S1\n\t\t\tA1\n\n\t\tSheet: S2\n"
                              "\t\t\tB1\n\n"),
                  std::string::npos)
            << report;
        EXPECT_EQ(driver.StringsFound(), 4);
    }
    // Switched on but without LibreOffice (its bridge missing here), and switched off: the
    // files are searched as bytes like any other. The binary formats hold the text in ways a
    // byte search may or may not see; the text file is found either way.
    setenv("FERRET_OFFICE_BRIDGE", "/nonexistent/bridge.py", 1);
    EXPECT_FALSE(DocumentHandler::IsInstalled());
    EXPECT_FALSE(SpreadsheetHandler::IsInstalled());
    for (const char* on : {"True", "False"}) {
        if (std::string(on) == "False") {
            unsetenv("FERRET_OFFICE_BRIDGE");
        }
        Handlers(on, on);
        HeadlessView view;
        RunDriver driver(view);
        driver.StartProcess({RunKind::kSearch, fields});
        EXPECT_EQ(view.ReportText().find("Sheet:"), std::string::npos) << on;
        EXPECT_NE(view.ReportText().find(".../c.txt"), std::string::npos) << on;
    }
    EXPECT_TRUE(DocumentHandler::IsInstalled());
}

// Hit lines of office files: a document's paragraphs with hits, each once with its hits, and a
// spreadsheet's cells with their texts; a replace run gives them as they are after it.
TEST_F(OfficeTest, HitLinesAreParagraphsAndCells) {
    ASSERT_NO_FATAL_FAILURE(
        Make({Document(dir_.Path("a.docx"), {"no hit", "one word and a word", "word"}),
              Sheets(dir_.Path("b.ods"),
                     QJsonArray{QJsonArray{"S1", QJsonArray{QJsonArray{"x", "a word"}}}})}));
    struct Lines : RunSink {
        void HitLines(std::size_t /*index*/, const FileRecord& file, FileHits hits) override {
            for (const HitLine& line : hits.lines) {
                taken.push_back(file.Filename() + " " + std::to_string(line.number) + " " +
                                std::to_string(line.hits) + " " + line.text);
            }
        }
        std::vector<std::string> taken;
    };
    RunRequest request;
    request.kind = RunKind::kSearch;
    request.fields.folder = dir_.path();
    request.fields.file_mask = "*.docx;*.ods";
    request.fields.search_text = "word";
    request.office_extensions = ".docx|.ods|";
    request.office_setup = setup_;
    request.hit_lines = 0;
    request.workers = 1;
    Lines found;
    RunControl control;
    control.Reset(false);
    ExecuteRun(request, found, control);
    EXPECT_EQ(found.taken,
              (std::vector<std::string>{"a.docx 0 2 one word and a word", "a.docx 0 1 word",
                                        "b.ods 0 1 S1!B1: a word"}));

    const TempDir restore;
    request.kind = RunKind::kReplace;
    request.fields.replace_text = "term";
    request.restore_folder = restore.path();
    request.restore_quantity = 1;
    Lines replaced;
    control.Reset(false);
    ExecuteRun(request, replaced, control);
    EXPECT_EQ(replaced.taken,
              (std::vector<std::string>{"a.docx 0 2 one term and a term", "a.docx 0 1 term",
                                        "b.ods 0 1 S1!B1: term"}));
}

// Whole words only: a document's words and a sheet's words inside their cells, not whole cells.
TEST_F(OfficeTest, WholeWordsOnlyInDocumentsAndSheets) {
    ASSERT_NO_FATAL_FAILURE(Make(
        {Document(dir_.Path("a.docx"), {"words and a word", "swordfish word."}),
         Sheets(
             dir_.Path("b.ods"),
             QJsonArray{QJsonArray{"S1", QJsonArray{QJsonArray{"a word", "wordy", "word"},
                                                    QJsonArray{"(word)", "a.b", "x+y word"}}}})}));
    RunRequest request;
    request.kind = RunKind::kSearch;
    request.fields.folder = dir_.path();
    request.fields.file_mask = "*.docx;*.ods";
    request.fields.whole_word = true;
    request.office_extensions = ".docx|.ods|";
    request.office_setup = setup_;
    request.workers = 1;
    RunSink sink;
    RunControl control;
    const auto counts = [&](const std::string& text) {
        request.fields.search_text = text;
        control.Reset(false);
        const RunResult result = ExecuteRun(request, sink, control);
        // A search keeps the records of files with hits: the others count 0.
        std::vector<std::int32_t> found;
        for (const char* name : {"a.docx", "b.ods"}) {
            const FileRecord* file = result.files->Item(dir_.Path(name));
            found.push_back(file != nullptr ? file->ItemsFound() : 0);
        }
        return found;
    };
    EXPECT_EQ(counts("word"), (std::vector<std::int32_t>{2, 4}));
    // A sheet's text is taken as it is, not as a pattern.
    EXPECT_EQ(counts("a.b"), (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(counts("x+y"), (std::vector<std::int32_t>{0, 1}));
    request.fields.whole_word = false;
    EXPECT_EQ(counts("word"), (std::vector<std::int32_t>{4, 5}));
}

// A replace run keeps office files before LibreOffice rewrites them: the run is undone byte for
// byte, and a file the handler left alone is not part of the restore point.
TEST_F(OfficeTest, ReplaceRunsInOfficeFilesCanBeUndone) {
    ASSERT_NO_FATAL_FAILURE(
        Make({Document(dir_.Path("tree/a.doc"), {"the old text"}),
              Document(dir_.Path("tree/quiet.doc"), {"nothing to see"}),
              Document(dir_.Path("tree/locked.doc"), {"old and read-only"}),
              Sheets(dir_.Path("tree/b.xls"),
                     QJsonArray{QJsonArray{"S1", QJsonArray{QJsonArray{"old"}}}})}));
    const std::string a = dir_.ReadFile("tree/a.doc");
    // A read-only document is searched, never rewritten, and told, as a text file would be.
    ASSERT_EQ(chmod(dir_.Path("tree/locked.doc").c_str(), 0444), 0);
    const std::string locked = dir_.ReadFile("tree/locked.doc");
    const std::string b = dir_.ReadFile("tree/b.xls");
    Handlers("True", "True");
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreFolder, dir_.Path("restore")).ok());
    SearchFields fields;
    fields.folder = dir_.Path("tree");
    fields.file_mask = "*.doc;*.xls";
    fields.search_text = "old";
    fields.replace_text = "new";
    HeadlessView view;
    RunDriver driver(view);
    driver.StartProcess({RunKind::kReplace, fields});
    EXPECT_EQ(driver.StringsFound(), 2);
    EXPECT_NE(dir_.ReadFile("tree/a.doc"), a);
    EXPECT_EQ(dir_.ReadFile("tree/locked.doc"), locked);
    ASSERT_EQ(driver.FileProblems().size(), 1u);
    EXPECT_EQ(driver.FileProblems()[0].text,
              dir_.Path("tree/locked.doc") + ": the file is read-only");
    const std::vector<RestorePointInfo> points = ListRestorePoints(dir_.Path("restore"));
    ASSERT_EQ(points.size(), 1u);
    ASSERT_EQ(points[0].entries.size(), 2u);  // quiet.doc was kept only while it was open
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(points[0].folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 2);
    EXPECT_TRUE(outcome.refused.empty());
    EXPECT_EQ(dir_.ReadFile("tree/a.doc"), a);
    EXPECT_EQ(dir_.ReadFile("tree/b.xls"), b);
}

// Office documents go through the same way in as text files: the mode, the owner's extended
// attributes and a link to the document are kept, nothing is left beside them or in the private
// folder LibreOffice worked in, and the undo puts each back through its link. A link that leads
// out of the start folder is not followed for the rewrite, and is told.
TEST_F(OfficeTest, ReplacedDocumentsKeepModeAttributesAndLinksAndAreUndone) {
    ASSERT_NO_FATAL_FAILURE(
        Make({Document(dir_.Path("tree/a.docx"), {"the old text"}),
              Document(dir_.Path("tree/docs/target.odt"), {"old, reached by a link"}),
              Document(dir_.Path("outside/other.odt"), {"old, out of the tree"})}));
    dir_.Symlink(dir_.Path("tree/docs/target.odt"), "tree/linked.odt");
    dir_.Symlink(dir_.Path("outside/other.odt"), "tree/leads-out.odt");
    const std::string other = dir_.ReadFile("outside/other.odt");
    ASSERT_EQ(chmod(dir_.Path("tree/a.docx").c_str(), 0640), 0);
    const bool attributes =
        setxattr(dir_.Path("tree/a.docx").c_str(), "user.origin", "mail", 4, 0) == 0;
    const std::string a = dir_.ReadFile("tree/a.docx");
    const std::string target = dir_.ReadFile("tree/docs/target.odt");
    dir_.MakeDir("scratch");
    setenv("TMPDIR", dir_.Path("scratch").c_str(), 1);
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kFileHandlerWord, "True").ok());
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreFolder, dir_.Path("restore")).ok());
    SearchFields fields;
    fields.folder = dir_.Path("tree");
    fields.file_mask = "*.docx;*.odt";
    fields.search_text = "old";
    fields.replace_text = "new";
    HeadlessView view;
    RunDriver driver(view);
    driver.StartProcess({RunKind::kReplace, fields});
    unsetenv("TMPDIR");
    EXPECT_EQ(driver.StringsFound(), 2);
    ASSERT_EQ(driver.FileProblems().size(), 1u);
    EXPECT_NE(driver.FileProblems()[0].text.find("/leads-out.odt: it lies outside the folder"),
              std::string::npos)
        << driver.FileProblems()[0].text;
    EXPECT_EQ(dir_.ReadFile("outside/other.odt"), other);
    struct stat info {};
    ASSERT_EQ(stat(dir_.Path("tree/a.docx").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    if (attributes) {
        char value[16] = {};
        EXPECT_EQ(getxattr(dir_.Path("tree/a.docx").c_str(), "user.origin", value, sizeof value),
                  4);
        EXPECT_EQ(std::string(value), "mail");
    }
    ASSERT_EQ(lstat(dir_.Path("tree/linked.odt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    const QJsonArray dumped = Fixture(
        *setup_, {Dump(dir_.Path("tree/a.docx")), Dump(dir_.Path("tree/docs/target.odt"))}, dir_);
    ASSERT_EQ(dumped.size(), 2);
    EXPECT_EQ(dumped[0].toObject()["filter"].toString(), QStringLiteral("MS Word 2007 XML"));
    EXPECT_EQ(dumped[0].toObject()["text"].toString(), QStringLiteral("the new text"));
    EXPECT_EQ(dumped[1].toObject()["text"].toString(), QStringLiteral("new, reached by a link"));
    EXPECT_EQ(dir_.Names("tree"),
              (std::vector<std::string>{"a.docx", "docs", "leads-out.odt", "linked.odt"}));
    EXPECT_TRUE(dir_.Names("scratch").empty());

    const std::vector<RestorePointInfo> points = ListRestorePoints(dir_.Path("restore"));
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].entries.size(), 2u);
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(points[0].folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 2);
    EXPECT_TRUE(outcome.refused.empty());
    EXPECT_EQ(dir_.ReadFile("tree/a.docx"), a);
    EXPECT_EQ(dir_.ReadFile("tree/docs/target.odt"), target);
    ASSERT_EQ(lstat(dir_.Path("tree/linked.odt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// The real program, with a bridge that lets another program write to the document while
// LibreOffice is saving it: that write is kept, the run tells the file was not done and exits
// with 1, and the next run, with nobody writing, replaces as usual.
TEST_F(OfficeTest, ADocumentWrittenToDuringTheSaveKeepsThatWrite) {
    ASSERT_NO_FATAL_FAILURE(Make({Document(dir_.Path("tree/a.doc"), {"the old text"})}));
    const std::string writer_bridge =
        Bridge("writer_bridge.py",
               "saved = bridge.save_to\n"
               "def save_to(document, path):\n"
               "    writer = os.environ.get('FERRET_TEST_WRITER')\n"
               "    if writer:\n"
               "        with open(writer, 'ab') as f: f.write(b'written meanwhile')\n"
               "    saved(document, path)\n"
               "bridge.save_to = save_to\n");
    const std::string path = dir_.Path("tree/a.doc");
    const std::string before = dir_.ReadFile("tree/a.doc");
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kFileHandlerWord, "True").ok());
    setenv("FERRET_OFFICE_BRIDGE", writer_bridge.c_str(), 1);
    setenv("FERRET_TEST_WRITER", path.c_str(), 1);
    const std::vector<std::string> replace = {
        "-p", dir_.Path("tree"), "-k", "*.doc", "-s", "old", "-r", "new", "-e:replace", "-x"};
    const ProgramResult busy = Ferret(replace);
    unsetenv("FERRET_TEST_WRITER");
    EXPECT_EQ(busy.exit_code, 1) << busy.err;
    EXPECT_NE(busy.err.find("ferret: not done: " + path +
                            ": the file changed while it was being rewritten"),
              std::string::npos)
        << busy.err;
    EXPECT_EQ(dir_.ReadFile("tree/a.doc"), before + "written meanwhile");
    EXPECT_EQ(dir_.Names("tree"), std::vector<std::string>{"a.doc"});

    dir_.WriteFile("tree/a.doc", before);
    const ProgramResult quiet = Ferret(replace);
    unsetenv("FERRET_OFFICE_BRIDGE");
    EXPECT_EQ(quiet.exit_code, 0) << quiet.err;
    EXPECT_NE(dir_.ReadFile("tree/a.doc"), before);
    // Only the file really rewritten is in the undo list.
    const ProgramResult list = Ferret({"-undo", "list"});
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1) << list.out;
    EXPECT_NE(list.out.find("  1 file(s)  \"old\" -> \"new\""), std::string::npos) << list.out;
}

// Run by one user on a document of another user that the group may write: searched, told, and
// left with its owner and bytes, exactly as a text file beside it.
TEST_F(OfficeTest, AnotherUsersGroupWritableDocumentIsOnlySearched) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run as another user";
    }
    ASSERT_NO_FATAL_FAILURE(Make({Document(dir_.Path("shared/theirs.docx"), {"the old text"})}));
    dir_.WriteFile("shared/theirs.txt", "the old text");
    for (const char* name : {"shared/theirs.docx", "shared/theirs.txt"}) {
        ASSERT_EQ(chown(dir_.Path(name).c_str(), 0, 65534), 0);
        ASSERT_EQ(chmod(dir_.Path(name).c_str(), 0664), 0);
    }
    // The other user's settings, data and home, where that user may read and write.
    dir_.MakeDir("other/config");
    dir_.MakeDir("other/data");
    for (const char* folder : {"", "shared", "other", "other/config", "other/data"}) {
        ASSERT_EQ(chmod(dir_.Path(folder).c_str(), 0777), 0);
    }
    const std::string config = std::getenv("XDG_CONFIG_HOME");
    const std::string home = std::getenv("HOME");
    setenv("XDG_CONFIG_HOME", dir_.Path("other/config").c_str(), 1);
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kFileHandlerWord, "True").ok());
    ASSERT_EQ(std::system(("chmod -R a+rwX '" + dir_.Path("other") + "'").c_str()), 0);
    setenv("FERRET_HOME", dir_.Path("other/data").c_str(), 1);
    setenv("HOME", dir_.Path("other").c_str(), 1);
    const std::string docx = dir_.ReadFile("shared/theirs.docx");
    const ProgramResult run = Ferret(
        {"-p", dir_.Path("shared"), "-k", "*.*", "-s", "old", "-r", "new", "-e:replace", "-x"},
        true);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    unsetenv("FERRET_HOME");
    EXPECT_EQ(run.exit_code, 1) << run.err;
    for (const char* name : {"/theirs.docx", "/theirs.txt"}) {
        EXPECT_NE(run.err.find("ferret: not done: " + dir_.Path("shared") + name +
                               ": the file belongs to another user"),
                  std::string::npos)
            << run.err;
    }
    EXPECT_EQ(dir_.ReadFile("shared/theirs.docx"), docx);
    EXPECT_EQ(dir_.ReadFile("shared/theirs.txt"), "the old text");
    struct stat info {};
    ASSERT_EQ(stat(dir_.Path("shared/theirs.docx").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(dir_.Names("shared"), (std::vector<std::string>{"theirs.docx", "theirs.txt"}));
}

// A LibreOffice that does not answer in time is killed, and nothing of it stays: not its
// profile, not its temporary files (in the TMPDIR it was given), not the pipes it made in /tmp.
TEST_F(OfficeTest, AnOfficeKilledAfterATimeOutLeavesNothingBehind) {
    // The real bridge and LibreOffice; a request notes the pipes the process group listens on
    // (found as the sockets its processes hold, by their names in /proc/net/unix) and hangs.
    const std::string hanging_bridge =
        Bridge("hanging_bridge.py",
               "def pipes():\n"
               "    group = os.getpgrp()\n"
               "    inodes = set()\n"
               "    for pid in filter(str.isdigit, os.listdir('/proc')):\n"
               "        try:\n"
               "            with open('/proc/%s/stat' % pid) as f: stat = f.read()\n"
               "            if int(stat[stat.rindex(')') + 2:].split()[2]) != group: continue\n"
               "            for fd in os.listdir('/proc/%s/fd' % pid):\n"
               "                link = os.readlink('/proc/%s/fd/%s' % (pid, fd))\n"
               "                if link.startswith('socket:['): inodes.add(link[8:-1])\n"
               "        except (OSError, ValueError): pass\n"
               "    with open('/proc/net/unix') as f:\n"
               "        rows = [line.split(None, 7) for line in f.readlines()[1:]]\n"
               "    return sorted({r[7].strip() for r in rows if len(r) == 8 and r[6] in inodes})\n"
               "def hang(office, request):\n"
               "    with open(os.environ['FERRET_TEST_PIPES'], 'w') as f:\n"
               "        f.write('\\n'.join(pipes()))\n"
               "    time.sleep(1000)\n"
               "bridge.word = hang\n");
    dir_.MakeDir("scratch");
    setenv("TMPDIR", dir_.Path("scratch").c_str(), 1);
    setenv("FERRET_TEST_PIPES", dir_.Path("pipes.txt").c_str(), 1);
    OfficeSetup setup = *setup_;
    setup.bridge = hanging_bridge;
    setup.file_timeout = std::chrono::seconds(3);
    {
        OfficeLink link(setup);
        OfficeRequest request;
        request.path = dir_.Path("never-opened.doc");
        const OfficeAnswer answer = link.Ask(request);
        EXPECT_EQ(answer.count, -1);
        EXPECT_NE(answer.description.find("did not answer"), std::string::npos)
            << answer.description;
        // Gone at once, not only when the link ends.
        EXPECT_EQ(dir_.Names("scratch"), std::vector<std::string>{});
    }
    unsetenv("TMPDIR");
    unsetenv("FERRET_TEST_PIPES");
    std::vector<std::string> pipes;
    std::ifstream listed(dir_.Path("pipes.txt"));
    for (std::string pipe; std::getline(listed, pipe);) {
        pipes.push_back(pipe);
    }
    ASSERT_FALSE(pipes.empty()) << "the office's pipes were not found";
    for (const std::string& pipe : pipes) {
        struct stat info {};
        EXPECT_NE(lstat(pipe.c_str(), &info), 0) << pipe << " was left behind";
    }
}

}  // namespace

// A bridge that says it is ready, starts a child in its group and then never answers.
TEST(OfficeLinkTest, AHungOfficeIsKilledAndTheNextFileStartsAnother) {
    TempDir dir;
    dir.WriteFile("hang.py",
                  "import os, subprocess, sys, time\n"
                  "child = subprocess.Popen(['sleep', '1000'], stdin=subprocess.DEVNULL,\n"
                  "                         stdout=subprocess.DEVNULL)\n"
                  "with open(sys.argv[1], 'a') as f: f.write('%d %d\\n' % (os.getpid(), "
                  "child.pid))\n"
                  "print('{\"ready\": true}', flush=True)\n"
                  "for line in sys.stdin: time.sleep(1000)\n");
    OfficeSetup setup;
    setup.python = "/usr/bin/python3";
    setup.bridge = dir.Path("hang.py");
    setup.soffice = dir.Path("pids");  // the fake takes it as the file for its pids
    setup.file_timeout = std::chrono::seconds(1);
    setup.start_timeout = std::chrono::seconds(10);
    std::vector<int> pids;
    {
        OfficeLink link(setup);
        OfficeRequest request;
        request.path = "/nowhere/a.doc";
        const auto started = std::chrono::steady_clock::now();
        const OfficeAnswer first = link.Ask(request);
        EXPECT_EQ(first.count, -1);
        EXPECT_NE(first.description.find("did not answer"), std::string::npos);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
        EXPECT_EQ(link.Ask(request).count, -1);
        EXPECT_EQ(link.Starts(), 2);
        std::ifstream in(dir.Path("pids"));
        int pid = 0;
        while (in >> pid) {
            pids.push_back(pid);
        }
    }
    ASSERT_EQ(pids.size(), 4u);
    for (const int pid : pids) {
        // Gone, or a zombie of a parent killed with it; a killed process may take a moment.
        bool ended = false;
        for (int wait = 0; wait < 250 && !ended; ++wait) {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            const std::string text((std::istreambuf_iterator<char>(status)),
                                   std::istreambuf_iterator<char>());
            ended = kill(pid, 0) != 0 || text.find("State:\tZ") != std::string::npos;
            if (!ended) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        EXPECT_TRUE(ended) << pid;
    }
}

TEST(OfficeLinkTest, ABridgeThatCannotStartFailsEveryFileQuickly) {
    OfficeSetup setup;
    setup.python = "/usr/bin/python3";
    setup.bridge = "/nonexistent/bridge.py";
    setup.soffice = "/nonexistent/soffice";
    OfficeLink link(setup);
    OfficeRequest request;
    request.path = "/nowhere/a.xls";
    EXPECT_EQ(link.Ask(request).count, -1);
    EXPECT_EQ(link.Ask(request).count, -1);
    EXPECT_EQ(link.Starts(), 1);  // not tried again for every file
}

}  // namespace ferret
