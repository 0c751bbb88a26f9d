#include "engine/run_driver.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <thread>
#include <vector>

#include "app/error_log.h"
#include "engine/content_search.h"
#include "engine/find_files.h"
#include "engine/pattern_literal.h"
#include "engine/regex.h"
#include "ferret_version.h"
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

// Joins the search threads however the stage is left.
struct ThreadJoiner {
    std::vector<std::thread>& threads;
    ~ThreadJoiner() {
        for (std::thread& thread : threads) {
            if (thread.joinable()) {
                thread.join();
            }
        }
    }
};

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
        results_ = BuildFileList();
        if (mode == "Search") {
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
                view_.ShowMessage("Replacing text is not available in this version of Ferret",
                                  "Missing Feature", MessageIcon::Information);
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

void RunDriver::SearchInFileList(clsFiles& files, const std::string& search_text) {
    std::vector<std::thread> threads;
    try {
        view_.SetStatusText(1, "...searching inside of files");
        view_.AddSearchToList(search_text);
        view_.ProcessEvents();
        const bool ignore_case = fields_.ignore_case;
        const std::string text = ConvertSpecialChars(search_text);
        const PlainMatcher matcher(text, ignore_case);
        // The pattern is the same for every file: compiled once, when a file first needs it.
        RegExp pattern;
        Status pattern_status;
        std::once_flag pattern_compiled;
        std::unique_ptr<PatternShortcut> shortcut;  // what lets most text go unmatched
        const auto compiled_pattern = [&]() -> const RegExp* {
            std::call_once(pattern_compiled, [&] {
                const std::string literal = RequiredLiteral(text);
                const bool ascii = std::all_of(literal.begin(), literal.end(), [](char c) {
                    return static_cast<unsigned char>(c) < 0x80;
                });
                if (!literal.empty() && (ascii || !ignore_case)) {
                    shortcut.reset(new PatternShortcut{PlainMatcher(literal, ignore_case),
                                                       MatchesWithinLines(text)});
                }
                pattern_status = pattern.Compile(text, ignore_case);
                if (!pattern_status.ok()) {
                    LogError("frmMain: SearchInFileList", pattern_status);
                    view_.ShowMessage(
                        "The regular expression cannot be used: " + pattern_status.description(),
                        "Regular Expression", MessageIcon::Warning);
                }
            });
            return pattern_status.ok() ? &pattern : nullptr;
        };

        std::vector<clsFile*> records;
        records.reserve(static_cast<std::size_t>(files.Count()));
        for (clsFile& file : files) {
            records.push_back(&file);
        }
        const std::size_t total = records.size();
        const std::string of_total = " of " + std::to_string(total);

        // Files are searched a few at a time on worker threads, but their counts are taken in
        // list order, here, so totals, progress and stopping behave as for one file at a time.
        // Workers stay at most `lookahead` files ahead of the count taken last.
        const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
        const std::size_t lookahead = 64 * workers;
        constexpr std::size_t kNobody = static_cast<std::size_t>(-1);
        std::mutex mutex;
        std::condition_variable result_ready;    // for this thread
        std::condition_variable work_available;  // for the workers
        std::vector<std::int32_t> counts(total, 0);
        std::vector<char> ready(total, 0);  // protected by mutex
        std::size_t next = 0;               // protected by mutex
        std::size_t taken = 0;              // protected by mutex
        std::size_t awaited = kNobody;      // protected by mutex: the index this thread waits for
        unsigned idle_workers = 0;          // protected by mutex
        bool finished = false;              // protected by mutex

        const auto work = [&] {
            std::unique_lock lock(mutex);
            for (;;) {
                while (!finished && !(next < total && next < taken + lookahead)) {
                    if (next >= total) {
                        return;
                    }
                    ++idle_workers;
                    work_available.wait(lock);
                    --idle_workers;
                }
                if (finished) {
                    return;
                }
                const std::size_t index = next++;
                lock.unlock();
                clsFile& record = *records[index];
                const std::string path = record.FullPath();
                const DetailsSink details = [&record](std::uint64_t size, const timespec& created) {
                    if (record.DetailsPending()) {
                        record.SetDetails(size, LocalDateTimeFromFileTime(created));
                    }
                };
                std::int32_t count = kNotSearched;
                try {
                    if (use_regex_.load()) {
                        if (const RegExp* compiled = compiled_pattern()) {
                            std::string error;
                            count =
                                SearchFilePattern(path, *compiled, shortcut.get(), details, &error);
                            if (!error.empty()) {
                                LogError("frmMain: SearchInFileList", "5019", path + ": " + error);
                            }
                        }
                    } else {
                        count = SearchFileText(path, matcher, stop_, details);
                    }
                } catch (const std::exception&) {
                    count = kNotSearched;  // out of memory for this file: the run goes on
                }
                lock.lock();
                counts[index] = count;
                ready[index] = 1;
                // Wake the counting thread when its batch is complete, or when it waits for a
                // file that held the batch up, or when nothing more can come.
                if (awaited != kNobody && (index == awaited || ready[awaited] != 0 ||
                                           next >= total || next >= taken + lookahead)) {
                    result_ready.notify_one();
                }
            }
        };
        for (unsigned i = 0; i < workers; ++i) {
            threads.emplace_back(work);
        }
        ThreadJoiner joiner{threads};
        const auto finish = [&] {
            std::lock_guard lock(mutex);
            finished = true;
            work_available.notify_all();
        };
        // This thread sleeps until a batch of counts is ready, not file by file: waking up for
        // every small file would cost more than searching it.
        constexpr std::size_t kBatch = 32;
        for (std::size_t index = 0; index < total; ++index) {
            std::int32_t count;
            {
                std::unique_lock lock(mutex);
                if (ready[index] == 0) {
                    awaited = std::min(index + kBatch, total) - 1;
                    result_ready.wait(lock, [&] { return ready[index] != 0; });
                    awaited = kNobody;
                }
                count = counts[index];
                taken = index + 1;
                if (idle_workers > 0) {
                    work_available.notify_all();
                }
            }
            AddToTotals(count);
            records[index]->SetItemsFound(count);
            view_.SetStatusText(1, "...searching in file " + std::to_string(index + 1) + of_total);
            if (StopPause()) {
                break;
            }
        }
        finish();
    } catch (const std::exception& error) {
        LogError("frmMain: SearchInFileList", "7", error.what());
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
    return paused;
}

void RunDriver::PressStop() {
    std::lock_guard lock(pause_mutex_);
    pause_.store(true);
    stop_.store(true);
    pause_changed_.notify_all();
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
            if (results_) {
                view_.DisplayFileList(*results_);
            }
            break;
        case 1:
            if (results_) {
                view_.DisplayStructuredList(*results_);
            }
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
    header.version_major = FERRET_VERSION_MAJOR;
    header.version_minor = FERRET_VERSION_MINOR;
    header.version_revision = FERRET_VERSION_PATCH;
    SummaryHooks hooks;
    hooks.stop_requested = [this] { return StopPause(); };
    hooks.generated_at = FormatGeneralDateTime(QDateTime::currentDateTime());
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
