#include "engine/run_driver.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <optional>
#include <thread>
#include <vector>

#include "app/error_log.h"
#include "engine/content_replace.h"
#include "engine/content_search.h"
#include "engine/find_files.h"
#include "engine/regex.h"
#include "engine/restore_point.h"
#include "ferret_version.h"
#include "office/office_handlers.h"
#include "reports/summary_report.h"
#include "settings/settings.h"
#include "util/app_locale.h"

namespace ferret {
namespace {

std::int32_t SaturatedAdd(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    return sum > kMaxHitCount ? kMaxHitCount : static_cast<std::int32_t>(sum);
}

// A number typed in a text box: blanks around it allowed, a point or the locale's decimal
// separator.
std::optional<double> ParseNumber(std::string text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    const std::string decimal = AppLocale().decimalPoint().toStdString();
    if (decimal != ".") {
        for (std::size_t at = text.find(decimal); at != std::string::npos; at = text.find(decimal))
            text.replace(at, decimal.size(), ".");
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

RunDriver::RunDriver(RunView& view) : view_(view) {}

RunDriver::~RunDriver() = default;

void RunDriver::StartProcess(const std::string& mode, const SearchFields& fields) {
    ProTimer timer;
    try {
        fields_ = fields;
        use_regex_.store(fields.regex);
        timer.Start();
        timer_ = &timer;
        files_with_hits_ = 0;
        strings_found_ = 0;
        for (int panel = 1; panel <= 3; ++panel) {
            view_.SetStatusText(panel, "");
        }
        view_.EnableReportMenus(false);
        stop_.store(false);
        pause_.store(false);
        EnableForm("stop");

        results_.reset();
        restore_folder_.clear();
        replace_refused_ = false;
        std::unique_ptr<RestorePoint> restore;
        const bool rewrites =
            mode == "Replace" && !fields_.search_text.empty() && !fields_.replace_text.empty();
        // Nothing is rewritten without a way back: no restore point, no run.
        if (rewrites && !OpenRestorePoint(restore)) {
            replace_refused_ = true;
        } else {
            results_ = BuildFileList();
        }
        if (replace_refused_) {
            view_.SetStatusText(1, "...nothing replaced");
        } else if (mode == "Search") {
            if (!fields_.search_text.empty() && results_) {
                SearchInFileList(*results_, fields_.search_text);
                AppendTotals();
            }
            ShowReport();
            has_highlight_ = !fields_.search_text.empty();
            if (has_highlight_) {
                highlight_text_ = fields_.search_text;
            }
        } else if (mode == "Replace") {
            if (!fields_.search_text.empty() && !fields_.replace_text.empty()) {
                if (results_) {
                    ReplaceInFileList(*results_, fields_.search_text, fields_.replace_text,
                                      restore.get());
                    AppendTotals();
                }
                if (restore) {
                    if (restore->Finish()) {
                        restore_folder_ = restore->Folder();
                        view_.AppendRunLog("\nRestore point: " + restore_folder_);
                    }
                    restore.reset();
                    PruneRestorePoints(RestoreFolderSetting(), RestoreQuantitySetting());
                }
            } else {
                view_.ShowMessage("A search and replace text must be supplied",
                                  "Missing Information", MessageIcon::Information);
            }
            ShowReport();
            has_highlight_ = !fields_.replace_text.empty();
            if (has_highlight_) {
                highlight_text_ = fields_.replace_text;
            }
        }
        timer.StopTime();
        timer_ = nullptr;
        view_.SetStatusText(1, "Elapse Process Time: " + timer.ElapsedString());
        view_.OpenResultsGroup();
        EnableForm("start");
    } catch (const std::exception& error) {
        timer_ = nullptr;
        LogError("frmMain: StartProcess", "7", error.what());
        EnableForm("start");
    }
}

bool RunDriver::OpenRestorePoint(std::unique_ptr<RestorePoint>& restore) {
    if (RestoreQuantitySetting() == 0) {
        return true;  // the user keeps none
    }
    const std::string base = RestoreFolderSetting();
    const Status made = RestorePoint::Create(base, fields_.search_text, fields_.replace_text,
                                             fields_.folder, restore);
    if (made.ok()) {
        return true;
    }
    LogError("frmMain: ReplaceInFileList", made);
    view_.ShowMessage("No restore point can be made in '" + base + "': " + made.description() +
                          "\n\nNothing was replaced, as the files could not be put back. Choose "
                          "another restore point folder in Tools > Options.",
                      "Restore Point", MessageIcon::Critical);
    return false;
}

std::unique_ptr<clsFiles> RunDriver::BuildFileList() {
    view_.SetBusy(true);
    view_.SetStatusText(1, "...building file list");
    view_.AddMaskToList(fields_.file_mask);
    clsFindFiles finder;
    switch (fields_.size_option) {
        case SearchFields::kSizeSmall:
            finder.SetGreaterThanSize(false);
            finder.SetFileSizeLimit(102400);
            break;
        case SearchFields::kSizeMedium:
            finder.SetGreaterThanSize(false);
            finder.SetFileSizeLimit(1024000);
            break;
        case SearchFields::kSizeLarge:
            finder.SetGreaterThanSize(true);
            finder.SetFileSizeLimit(1024000);
            break;
        case SearchFields::kSizeSpecified: {
            const std::optional<double> kb = ParseNumber(fields_.size_text);
            if (!kb) {
                LogError("frmMain: BuildFileList", "13",
                         "Type mismatch: the size '" + fields_.size_text + "' is not a number");
                view_.SetBusy(false);
                return nullptr;
            }
            finder.SetGreaterThanSize(fields_.size_at_least);
            finder.SetFileSizeLimit(*kb * 1024);
            break;
        }
        default:
            break;
    }
    switch (fields_.date_option) {
        case SearchFields::kDateLastWeek:
            finder.SetDateType(kDateWithinWeek);
            break;
        case SearchFields::kDateLastMonth:
            finder.SetDateType(kDateWithinMonth);
            break;
        case SearchFields::kDateLastYear:
            finder.SetDateType(kDateWithinYear);
            break;
        case SearchFields::kDateSpecified:
            finder.SetDateType(kDateBetween);
            finder.SetDateFrom(fields_.date_from);
            finder.SetDateTo(fields_.date_to);
            if (fields_.date_kind >= 0 && fields_.date_kind <= 2) {
                finder.SetFileDateType(fields_.date_kind);
            }
            break;
        default:
            break;
    }
    finder.SetFilterMask(fields_.file_mask);
    finder.SetSearchType(fields_.include_listed ? 1 : 0);
    finder.SetRecursive(fields_.recursive);
    finder.SetStartDirectory(fields_.folder);
    finder.SetControl({&stop_, &pause_});
    finder.PerformSearch();

    const std::string searched = std::to_string(finder.Searched());
    const std::string matched = std::to_string(finder.Matched());
    view_.SetRunLog("Items Searched: " + searched + "\nFiles Matched: " + matched +
                    "\nFile List Time: " + finder.SearchTime() + "\n");
    view_.SetStatusText(1, "...file list completed");
    view_.SetStatusText(2, "Items Searched: " + searched);
    view_.SetStatusText(3, "Files Matched: " + matched);
    std::unique_ptr<clsFiles> files = finder.TakeFiles();
    view_.SetBusy(false);
    return files;
}

namespace {

// A pattern compiled once, when a file first needs it, with what lets most text go unmatched.
// Thread-safe.
class LazyPattern {
  public:
    LazyPattern(std::string text, bool ignore_case)
        : text_(std::move(text)), ignore_case_(ignore_case) {}

    // The compiled pattern, or nullptr when it cannot be used (`on_error` was told once).
    const RegExp* Get(const std::function<void(const Status&)>& on_error) {
        std::call_once(compiled_, [&] {
            shortcut_ = MakePatternShortcut(text_, ignore_case_);
            status_ = pattern_.Compile(text_, ignore_case_);
            if (!status_.ok()) {
                on_error(status_);
            }
        });
        return status_.ok() ? &pattern_ : nullptr;
    }
    // Valid after Get.
    const PatternShortcut* Shortcut() const { return shortcut_.get(); }

  private:
    const std::string text_;
    const bool ignore_case_;
    std::once_flag compiled_;
    RegExp pattern_;
    Status status_;
    std::unique_ptr<PatternShortcut> shortcut_;
};

std::vector<clsFile*> RecordsOf(clsFiles& files) {
    std::vector<clsFile*> records;
    records.reserve(static_cast<std::size_t>(files.Count()));
    for (clsFile& file : files) {
        records.push_back(&file);
    }
    return records;
}

// Fills a record's size and time from the file a stage has open, when the walk left them.
DetailsSink DetailsFor(clsFile& record) {
    if (!record.DetailsPending()) {
        return {};  // nothing to learn: the open file need not be asked
    }
    return [&record](std::uint64_t size, const timespec& created) {
        if (record.DetailsPending()) {
            record.SetDetails(size, LocalDateTimeFromFileTime(created));
        }
    };
}

// The office handlers of one run: which extensions they take, found once, and one LibreOffice
// for all their files, shut down when the stage ends however it ends.
class OfficeFiles {
  public:
    OfficeFiles() {
        std::optional<OfficeSetup> setup;
        handlers_ = CurrentHandlerExtensions(&setup);
        if (!handlers_.empty()) {
            link_ = std::make_unique<OfficeLink>(*setup);
        }
    }

    bool Takes(const clsFile& record) const {
        return !handlers_.empty() && UseSpecialFileHandler(record.Filename(), handlers_);
    }

    // Searches (or, with `replace_run`, replaces in) an office file; a spreadsheet's hit cells
    // go to its record.
    std::int32_t Run(clsFile& record, const std::string& label, const std::string& find,
                     const std::string& replace, bool ignore_case, bool replace_run) {
        const std::string path = record.FullPath();
        std::int32_t count = 0;
        std::int32_t error = 0;
        std::string description;
        if (IsSpreadsheetName(record.Filename())) {
            cExcelFindReplace handler(link_.get());
            handler.SetFilename(path);
            handler.SetFindText(find);
            handler.SetReplaceText(replace_run ? replace : std::string());
            handler.SetMatchCase(!ignore_case);
            count = replace_run ? handler.Replace() : handler.Find();
            error = handler.ErrCode();
            description = handler.ErrDescription();
            record.SetExcelResults(handler.TakeExcelResults());
        } else {
            cWordFindReplace handler(link_.get());
            handler.SetFilename(path);
            handler.SetFindText(find);
            handler.SetReplaceText(replace);
            handler.SetMatchCase(!ignore_case);
            count = replace_run ? handler.Replace() : handler.Find();
            error = handler.ErrCode();
            description = handler.ErrDescription();
        }
        if (error != 0) {
            LogError(label, std::to_string(error), path + ": " + description);
        }
        return count;
    }

  private:
    std::string handlers_;
    std::unique_ptr<OfficeLink> link_;
};

}  // namespace

void RunDriver::RunStage(OrderedStage& stage, std::size_t total) {
    stage.workers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    stage.may_start = [this] { return !pause_.load() || stop_.load(); };
    {
        std::lock_guard lock(pause_mutex_);
        stage_ = &stage;
    }
    try {
        stage.Run(total);
    } catch (...) {
        std::lock_guard lock(pause_mutex_);
        stage_ = nullptr;
        throw;
    }
    std::lock_guard lock(pause_mutex_);
    stage_ = nullptr;
}

void RunDriver::PatternError(const char* label, const Status& status) {
    LogError(label, status);
    view_.ShowMessage("The regular expression cannot be used: " + status.description(),
                      "Regular Expression", MessageIcon::Warning);
}

void RunDriver::SearchInFileList(clsFiles& files, const std::string& search_text) {
    constexpr char kLabel[] = "frmMain: SearchInFileList";
    try {
        view_.SetStatusText(1, "...searching inside of files");
        view_.AddSearchToList(search_text);
        view_.ProcessEvents();
        const bool ignore_case = fields_.ignore_case;
        const std::string text = ConvertSpecialChars(search_text);
        const PlainMatcher matcher(text, ignore_case);
        LazyPattern pattern(text, ignore_case);
        OfficeFiles office;
        const std::vector<clsFile*> records = RecordsOf(files);
        const std::string of_total = " of " + std::to_string(records.size());

        OrderedStage stage;
        stage.process = [&](std::size_t index) -> std::int32_t {
            if (stop_.load()) {
                return 0;
            }
            clsFile& record = *records[index];
            const std::string path = record.FullPath();
            try {
                if (office.Takes(record)) {
                    return office.Run(record, kLabel, text, std::string(), ignore_case, false);
                }
                if (!use_regex_.load()) {
                    return SearchFileText(path, matcher, stop_, DetailsFor(record));
                }
                const RegExp* compiled =
                    pattern.Get([&](const Status& status) { PatternError(kLabel, status); });
                if (compiled == nullptr) {
                    return kNotSearched;
                }
                std::string error;
                const std::int32_t count = SearchFilePattern(path, *compiled, pattern.Shortcut(),
                                                             DetailsFor(record), &error);
                if (!error.empty()) {
                    LogError(kLabel, std::to_string(kRegexErrorTooComplex), path + ": " + error);
                }
                return count;
            } catch (const std::exception&) {
                return kNotSearched;  // out of memory for this file: the run goes on
            }
        };
        stage.take = [&](std::size_t index, std::int32_t count) {
            AddToTotals(count);
            records[index]->SetItemsFound(count);
            view_.SetStatusText(1, "...searching in file " + std::to_string(index + 1) + of_total);
            return !StopPause();
        };
        RunStage(stage, records.size());
    } catch (const std::exception& error) {
        LogError(kLabel, "7", error.what());
    }
}

void RunDriver::ReplaceInFileList(clsFiles& files, const std::string& search_text,
                                  const std::string& replace_text, RestorePoint* restore) {
    constexpr char kLabel[] = "frmMain: ReplaceInFileList";
    try {
        view_.SetStatusText(1, "...replacing inside of files");
        view_.AddSearchToList(search_text);
        view_.ProcessEvents();
        const bool ignore_case = fields_.ignore_case;
        const std::string replacement = ConvertSpecialChars(replace_text);
        const std::string text = ConvertSpecialChars(search_text);
        const std::string approved = ApprovedExtensionList();
        const RestoreFolderGuard kept_copies(RestoreFolderSetting());
        // Plain texts are replaced as patterns too, escaped first.
        LazyPattern as_pattern(text, ignore_case);
        LazyPattern as_plain(RegExEncodeString(text), ignore_case);
        OfficeFiles office;
        const std::vector<clsFile*> records = RecordsOf(files);
        const std::string of_total = " of " + std::to_string(records.size());
        std::mutex last_mutex;
        std::size_t last_index = 0;  // protected by last_mutex
        // Protected by last_mutex: the last file rewritten, which may have been left empty.
        std::optional<std::string> last_content;

        OrderedStage stage;
        stage.process = [&](std::size_t index) -> std::int32_t {
            clsFile& record = *records[index];
            if (stop_.load() || kept_copies.Contains(record.FullPath())) {
                return 0;  // the way back of earlier runs is never rewritten
            }
            // Office documents go to their handlers whatever the approved list says.
            if (office.Takes(record)) {
                try {
                    std::uint64_t kept = 0;
                    if (restore != nullptr) {
                        if (Status status = restore->KeepBeforeHandler(record.FullPath(), kept);
                            !status.ok()) {
                            LogError(kLabel, "75",
                                     record.FullPath() +
                                         ": no restore copy could be kept, so the file was left "
                                         "as it is: " +
                                         status.description());
                            return kNotSearched;
                        }
                    }
                    const std::int32_t count =
                        office.Run(record, kLabel, text, replacement, ignore_case, true);
                    if (restore != nullptr) {
                        LogError(kLabel, restore->Settle(kept, record.FullPath()));
                    }
                    return count;
                } catch (const std::exception& error) {
                    LogError(kLabel, "7", record.FullPath() + ": " + error.what());
                    return kNotSearched;
                }
            }
            if (!IsApprovedForReplace(record.Filename(), approved)) {
                return 0;  // not opened
            }
            const std::string path = record.FullPath();
            try {
                LazyPattern& lazy = use_regex_.load() ? as_pattern : as_plain;
                const RegExp* compiled =
                    lazy.Get([&](const Status& status) { PatternError(kLabel, status); });
                if (compiled == nullptr) {
                    return kNotSearched;
                }
                OriginalKeeper keep;
                if (restore != nullptr) {
                    keep = [restore](const std::string& target, const struct stat& before,
                                     std::string_view original, std::string_view replaced) {
                        return restore->Keep(target, before, original, replaced);
                    };
                }
                RewriteResult result = ReplaceFilePattern(
                    path, *compiled, replacement, lazy.Shortcut(), DetailsFor(record), keep);
                if (result.count == kNotSearched) {
                    LogError(kLabel, "75", path + ": " + result.error);
                } else if (result.count > 0) {
                    std::lock_guard lock(last_mutex);
                    if (!last_content || index >= last_index) {
                        last_index = index;
                        last_content = std::move(result.new_content);
                    }
                }
                return result.count;
            } catch (const std::exception& error) {
                LogError(kLabel, "7", path + ": " + error.what());
                return kNotSearched;
            }
        };
        const auto record_count = [&](std::size_t index, std::int32_t count) {
            AddToTotals(count);
            records[index]->SetItemsFound(count);
        };
        stage.take = [&](std::size_t index, std::int32_t count) {
            record_count(index, count);
            view_.SetStatusText(1, "...replacing in file " + std::to_string(index + 1) + of_total);
            return !StopPause();
        };
        // Files rewritten after a stop was asked for are rewritten: their counts stand.
        stage.take_after_end = record_count;
        RunStage(stage, records.size());
        if (last_content) {
            LogError(kLabel, KeepLastRewrite(*last_content));
        }
    } catch (const std::exception& error) {
        LogError(kLabel, "7", error.what());
    }
}

void RunDriver::AppendTotals() {
    view_.AppendRunLog("\n" + std::to_string(strings_found_) + " string(s) found in \n" +
                       std::to_string(files_with_hits_) + " file(s)");
    view_.SetStatusText(3, "Files Matched: " + std::to_string(files_with_hits_));
}

bool RunDriver::StopPause() {
    try {
        view_.ProcessEvents();
        if (stop_.load()) {
            EnableForm("start");
            return true;
        }
        if (pause_.load()) {
            if (timer_ != nullptr) {
                timer_->Pause();
            }
            std::unique_lock lock(pause_mutex_);
            pause_changed_.wait(lock, [this] { return !pause_.load() || stop_.load(); });
            if (timer_ != nullptr) {
                timer_->Start();
            }
            if (stop_.load()) {
                EnableForm("start");
                return true;
            }
        }
        return false;
    } catch (const std::exception& error) {
        LogError("frmMain: StopPause", "7", error.what());
        return false;
    }
}

void RunDriver::EnableForm(const std::string& mode) {
    view_.SetRunning(mode != "start");
    view_.ProcessEvents();
}

void RunDriver::AddToTotals(std::int32_t count) {
    if (count >= 1) {
        files_with_hits_ = SaturatedAdd(files_with_hits_, 1);
        strings_found_ = SaturatedAdd(strings_found_, count);
    }
}

bool RunDriver::PressPause() {
    std::lock_guard lock(pause_mutex_);
    const bool paused = !pause_.load();
    pause_.store(paused);
    pause_changed_.notify_all();
    if (stage_ != nullptr) {
        stage_->Wake();
    }
    return paused;
}

void RunDriver::PressStop() {
    std::lock_guard lock(pause_mutex_);
    pause_.store(true);
    stop_.store(true);
    pause_changed_.notify_all();
    if (stage_ != nullptr) {
        stage_->Wake();
    }
}

int RunDriver::ReportType() const {
    if (report_override_) {
        return *report_override_;
    }
    return SettingAsInt(GetSettingValue(kSettingsKey, kReportType, SettingDefault(kReportType)),
                        -1);
}

void RunDriver::ShowReport() {
    switch (ReportType()) {
        case 0:
            DisplayFileList();
            break;
        case 1:
            DisplayStructuredList();
            break;
        case 2:
            DisplaySummary(false);
            break;
        case 3:
            DisplaySummary(true);
            break;
        default:
            break;
    }
}

ReportBuildInput RunDriver::ReportInput() {
    ReportBuildInput input;
    input.start_folder = fields_.folder;
    input.searched = !fields_.search_text.empty();
    input.stop_requested = [this] { return StopPause(); };
    return input;
}

void RunDriver::DisplayFileList() {
    if (!view_.HasReportViews()) {
        return;
    }
    view_.SetBusy(true);
    view_.SetStatusText(1, "...creating file list display");
    view_.ProcessEvents();
    FileListRows rows = BuildFileListRows(results_.get(), ReportInput());
    if (rows.too_many) {
        view_.ShowMessage(kTooManyItemsText, kTooManyItemsTitle, MessageIcon::Information);
    }
    view_.ShowFileList(std::move(rows));
    view_.SetBusy(false);
}

void RunDriver::DisplayStructuredList() {
    if (!view_.HasReportViews()) {
        return;
    }
    view_.SetBusy(true);
    view_.SetStatusText(1, "...building structured display");
    view_.ProcessEvents();
    view_.ShowStructuredTree(BuildStructuredTree(results_.get(), ReportInput()));
    view_.SetBusy(false);
}

void RunDriver::DisplaySummary(bool with_file_list) {
    view_.SetBusy(true);
    view_.SetStatusText(1, "...creating summary report");
    view_.ProcessEvents();
    SummaryHeader header;
    header.search_text = fields_.search_text;
    header.replace_text = fields_.replace_text;
    header.file_mask = fields_.file_mask;
    header.folder = fields_.folder;
    header.regex = use_regex_.load();
    header.recursive = fields_.recursive;
    header.ignore_case = fields_.ignore_case;
    header.restore_point = restore_folder_;
    header.version_major = FERRET_VERSION_MAJOR;
    header.version_minor = FERRET_VERSION_MINOR;
    header.version_revision = FERRET_VERSION_PATCH;
    SummaryHooks hooks;
    hooks.stop_requested = [this] { return StopPause(); };
    hooks.generated_at = FormatGeneralDateTime(QDateTime::currentDateTime());
    std::optional<std::string> handlers;  // found when the first spreadsheet is listed
    hooks.handled_by_office = [&handlers](const std::string& file_name) {
        if (!handlers) {
            handlers = CurrentHandlerExtensions();
        }
        return UseSpecialFileHandler(file_name, *handlers);
    };
    view_.SetReportText(BuildSummaryReport(
        results_.get(), header, {strings_found_, files_with_hits_}, with_file_list, hooks));
    view_.SetStatusText(1, "...report generated");
    view_.EnableReportMenus(true);
    view_.SetBusy(false);
}

void RunDriver::RefreshSettings(bool force) {
    const int code = ReportType();
    const bool auto_update =
        IsTrue(GetSettingValue(kSettingsKey, kAutoReportUpdate, SettingDefault(kAutoReportUpdate)));
    view_.ShowReportView(code);
    if (force || (auto_update && code != last_report_code_ && last_report_code_ != -1)) {
        view_.ClearReportViews(code);
        if (results_) {
            ShowReport();
        }
    }
    last_report_code_ = code;
}

}  // namespace ferret
