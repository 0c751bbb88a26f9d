#include "app/run_driver.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <optional>
#include <thread>

#include "engine/content_search.h"
#include "ferret_version.h"
#include "office/office_handlers.h"
#include "reports/summary_report.h"
#include "settings/app_settings.h"
#include "settings/error_log.h"
#include "util/app_locale.h"
#include "util/extension_list.h"

namespace ferret {
namespace {

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

// The error log's label of each stage, as the log has always named them.
const char* StageLabel(RunKind stage) {
    switch (stage) {
        case RunKind::kList:
            return "frmMain: BuildFileList";
        case RunKind::kSearch:
            return "frmMain: SearchInFileList";
        case RunKind::kReplace:
        case RunKind::kPreview:
        case RunKind::kChosenChanges:
            return "frmMain: ReplaceInFileList";
    }
    return "frmMain: StartProcess";
}

}  // namespace

RunDriver::RunDriver(RunView& view) : view_(view) {}

RunDriver::~RunDriver() = default;

bool RunDriver::MakeRequest(RunRequest& request) {
    request.kind = order_.kind;
    request.fields = fields_;
    // The window's views hold on to the records of the files they show.
    request.keep_records = order_.keep_records || view_.HasReportViews();
    settings_ = ReadAppSettings();
    // Only the list and the tree show sizes and dates.
    const std::optional<ReportType> report = ShownReport();
    request.want_details = view_.HasReportViews() &&
                           (report == ReportType::kFileList || report == ReportType::kStructured);
    gather_hit_lines_ = view_.HasReportViews() && report == ReportType::kHitLines;
    if (gather_hit_lines_) {
        request.hit_lines = settings_.hit_line_context;
    } else if (order_.hit_lines) {
        request.hit_lines = 0;
    }
    if (order_.hit_lines) {
        request.hit_spans = order_.hit_spans;
    }
    request.longest_match = static_cast<std::uint64_t>(settings_.longest_match_mb) << 20;
    request.encoding.forced = order_.encoding.empty() ? settings_.text_encoding : order_.encoding;
    request.encoding.fallback = settings_.legacy_encoding;
    if (fields_.size_option == SearchFields::kSizeSpecified) {
        const std::optional<double> kb = ParseNumber(fields_.size_text);
        if (!kb) {
            Log("frmMain: BuildFileList", kLogNumberTypeMismatch,
                "Type mismatch: the size '" + fields_.size_text + "' is not a number");
            return false;
        }
        request.size_kb = *kb;
    }
    const bool content =
        !fields_.search_text.empty() && (request.kind == RunKind::kSearch ||
                                         (Replaces(request.kind) && !fields_.replace_text.empty()));
    if (content) {
        // LibreOffice is looked for only when a handler is switched on.
        request.office_extensions = CurrentHandlerExtensions(settings_, &request.office_setup);
    }
    if (Replaces(request.kind)) {
        request.preview_changes = order_.preview_changes;
        request.chosen = order_.chosen;
        request.approved_extensions = ApprovedExtensionList(settings_.extension_list);
        request.restore_folder = settings_.restore_folder;
        request.restore_quantity = settings_.restore_quantity;
        restore_base_ = request.restore_folder;
    }
    return true;
}

void RunDriver::StartProcess(RunOrder order) {
    RunTimer timer;
    try {
        BeginRun(std::move(order), timer);
        RunRequest request;
        if (MakeRequest(request)) {
            Execute(request);
        }
        run_regex_ = control_.UseRegex();
        if (stopped_) {
            SetRunning(false);
        }
        ShowOutcome();
        {
            std::lock_guard lock(timer_mutex_);
            timer.StopTime();
            timer_ = nullptr;
        }
        // A stopped run is told as such, with how far it came: its totals are not a search's.
        std::string stopped;
        if (stopped_) {
            const std::string at = "Stopped at file " + std::to_string(done_at_stop_);
            if (!stopped_listing_) {
                stopped = at + " of " + std::to_string(files_total_) + " file(s)";
            } else if (done_at_stop_ > 0) {
                // A search tells its first files while the walk still lists the rest.
                stopped = at + " while listing the files";
            } else {
                stopped = "Stopped while listing the files";
            }
            view_.AppendRunLog("\n" + stopped + ".");
            stopped += ". ";
        }
        view_.SetStatusText(StatusPanel::kProgress,
                            stopped + "Elapse Process Time: " + timer.ElapsedString());
        view_.OpenResultsGroup();
        SetRunning(false);
    } catch (const std::exception& error) {
        {
            std::lock_guard lock(timer_mutex_);
            timer_ = nullptr;
        }
        Log("frmMain: StartProcess", kLogNumberUnexpected, error.what());
        SetRunning(false);
    }
    // The takers may hold what the caller lent them, and the report chosen for the run is the
    // run's alone: neither is kept past it.
    order_.hit_lines = nullptr;
    order_.previewed = nullptr;
    order_.chosen.reset();
    order_.report.reset();
}

void RunDriver::BeginRun(RunOrder order, RunTimer& timer) {
    order_ = std::move(order);
    fields_ = order_.fields;
    control_.Reset(fields_.regex);
    if (cancelled_.load()) {
        control_.Stop();
    }
    {
        std::lock_guard lock(timer_mutex_);
        timer.Start();
        timer_ = &timer;
    }
    files_with_hits_ = 0;
    strings_found_ = 0;
    for (const StatusPanel panel :
         {StatusPanel::kProgress, StatusPanel::kSearched, StatusPanel::kMatched}) {
        view_.SetStatusText(panel, "");
    }
    view_.EnableReportMenus(false);
    if (order_.report) {
        view_.ShowReportView(*order_.report);
    }
    SetRunning(true);

    results_.reset();
    hit_table_.reset();
    undone_ = false;
    restore_folder_.clear();
    leftovers_removed_.clear();
    file_problems_.clear();
    notices_.clear();
    replace_refused_ = false;
    pattern_refused_ = false;
    stopped_ = false;
    listing_ = true;
    content_started_ = false;
    stopped_listing_ = false;
    files_done_ = 0;
    done_at_stop_ = 0;
    files_total_ = 0;
    office_extensions_.clear();
}

void RunDriver::Execute(const RunRequest& request) {
    if (gather_hit_lines_) {
        hit_table_ = std::make_shared<HitLineTable>();
        hit_table_->replaced = Replaces(request.kind);
        hit_table_->marked = hit_table_->replaced ? fields_.replace_text : fields_.search_text;
        hit_table_->regex = fields_.regex && !hit_table_->replaced;
        hit_table_->ignore_case = fields_.ignore_case;
        // The new text of a replace run is marked wherever it stands.
        hit_table_->whole_word = fields_.whole_word && !hit_table_->replaced;
    }
    office_extensions_ = request.office_extensions;
    // The window shows the lines as they come, filling the table on its own thread.
    stream_hits_ = hit_table_ != nullptr && view_.HasReportViews();
    if (stream_hits_) {
        view_.StartHitLines(hit_table_);
    }
    RunResult result = ExecuteRun(request, *this, control_);
    results_ = std::move(result.files);
    if (hit_table_) {
        hit_table_->files = results_;
    }
    replace_refused_ = result.replace_refused;
    pattern_refused_ = result.pattern_refused;
    restore_folder_ = result.restore_point;
    binary_left_out_ = result.binary_left_out;
    if (binary_left_out_ > 0) {
        view_.AppendRunLog("\n" + std::to_string(binary_left_out_) + " binary file(s) left out");
    }
    stopped_ = result.stopped;
    // The reports show every file the run finished: a Stop now stops only their filling.
    control_.Reset(control_.UseRegex());
    if (result.content_stage) {
        files_with_hits_ = result.files_with_hits;
        strings_found_ = result.strings_found;
    }
    leftovers_removed_ = std::move(result.leftovers_removed);
    for (const std::string& left : leftovers_removed_) {
        view_.AppendRunLog("\nRemoved " + left +
                           ", a new file an interrupted replace run had left");
    }
    if (!restore_folder_.empty()) {
        view_.AppendRunLog("\nRestore point: " + restore_folder_);
    }
}

void RunDriver::ShowOutcome() {
    if (replace_refused_) {
        view_.SetStatusText(StatusPanel::kProgress, "...nothing replaced");
        return;
    }
    if (pattern_refused_) {
        view_.SetStatusText(StatusPanel::kProgress, order_.kind == RunKind::kSearch
                                                        ? "...nothing searched"
                                                        : "...nothing replaced");
        return;
    }
    // The report is drawn as the settings are when the run ends: a type chosen while it ran
    // applies to it.
    settings_ = ReadAppSettings();
    if (order_.kind == RunKind::kSearch) {
        ShowReport();
        has_highlight_ = !fields_.search_text.empty();
        if (has_highlight_) {
            highlight_text_ = fields_.search_text;
        }
    } else if (Replaces(order_.kind)) {
        if (fields_.search_text.empty() || fields_.replace_text.empty()) {
            view_.ShowMessage("A search and replace text must be supplied", "Missing Information",
                              MessageIcon::kInformation);
        }
        ShowReport();
        // A preview wrote nothing: the files still hold the search text.
        const std::string& marked =
            order_.kind == RunKind::kPreview ? fields_.search_text : fields_.replace_text;
        has_highlight_ = !fields_.replace_text.empty();
        if (has_highlight_) {
            highlight_text_ = marked;
        }
    }
}

void RunDriver::Listing() {
    view_.SetBusy(true);
    view_.SetStatusText(StatusPanel::kProgress, "...building file list");
    view_.AddMaskToList(fields_.file_mask);
    view_.AddSkipFoldersToList(fields_.skip_folders);
}

void RunDriver::Listed(const ListTotals& totals) {
    const std::string searched = std::to_string(totals.searched);
    const std::string matched = std::to_string(totals.matched);
    view_.SetRunLog("Items Searched: " + searched + "\nFiles Matched: " + matched +
                    "\nFile List Time: " + totals.time + "\n");
    view_.SetStatusText(StatusPanel::kProgress, "...file list completed");
    view_.SetStatusText(StatusPanel::kSearched, "Items Searched: " + searched);
    view_.SetStatusText(StatusPanel::kMatched, "Files Matched: " + matched);
    view_.SetBusy(false);
}

void RunDriver::ContentWhileListing(RunKind kind) {
    StartContent(kind);
}

void RunDriver::ContentStage(RunKind kind, std::size_t files) {
    files_total_ = files;
    listing_ = false;
    if (!content_started_) {
        view_.SetStatusText(StatusPanel::kProgress,
                            !Replaces(kind) ? "...searching inside of files"
                            : kind == RunKind::kPreview
                                ? "...working out the changes (nothing is written)"
                                : "...replacing inside of files");
        StartContent(kind);
    } else if (files_done_ > 0) {
        // The files told while the walk listed: now it is known of how many.
        view_.ShowProgress(progress_verb_ + std::to_string(files_done_.load()) + " of " +
                           std::to_string(files));
    }
}

void RunDriver::StartContent(RunKind kind) {
    content_started_ = true;
    const bool replace = Replaces(kind);
    const bool preview = kind == RunKind::kPreview;
    view_.AddSearchToList(fields_.search_text);
    view_.ProcessEvents();
    progress_verb_ = !replace  ? "...searching in file "
                     : preview ? "...previewing the changes in file "
                               : "...replacing in file ";
    stream_searched_ = !fields_.search_text.empty();
    const std::optional<ReportType> shown = ShownReport();
    stream_files_ = view_.HasReportViews() &&
                    (shown == ReportType::kFileList || shown == ReportType::kStructured);
    if (stream_files_) {
        view_.StartFileStream(fields_.folder, stream_searched_);
    }
}

void RunDriver::HitLines(std::size_t /*index*/, const FileRecord& file, FileHits hits) {
    if (order_.hit_lines) {
        order_.hit_lines(file, hits);
    }
    if (hit_table_ && !(stream_hits_ && view_.StreamHitLines(file, hits))) {
        hit_table_->Add(file, hits);
    }
}

void RunDriver::Previewed(std::size_t /*index*/, const FileRecord& file, FilePreview preview) {
    if (order_.previewed) {
        order_.previewed(file, preview);
    }
}

void RunDriver::FileDone(std::size_t index, std::size_t total, std::int32_t count,
                         FileRecord& file) {
    // The list fills as the run goes; a search's list has only files with hits.
    if (stream_files_ && (count >= 1 || !stream_searched_)) {
        view_.StreamFile(file);
    }
    if (stream_hits_ && count >= 1) {
        view_.StreamHitLinesDone(file, count);
    }
    files_done_ = std::max(files_done_.load(), index + 1);
    view_.ShowProgressCount(index + 1, total);
    // While the walk still lists, how many files there are is not known yet.
    view_.ShowProgress(
        progress_verb_ + std::to_string(index + 1) +
        (total == 0 ? std::string(" (still listing)") : " of " + std::to_string(files_total_)));
}

void RunDriver::Problem(const RunProblem& problem) {
    const char* label = StageLabel(problem.stage);
    if (!LogError(label, problem.status)) {
        TellLogFailure();
    }
    switch (problem.kind) {
        case ProblemKind::kFile:
            // A preview writes nothing, so nothing is left undone: its window says which files
            // a replace would leave out. What the walk could not list is told as ever.
            if (order_.kind == RunKind::kPreview && order_.not_previewed &&
                problem.stage != RunKind::kList && !problem.path.empty()) {
                order_.not_previewed(problem.path, problem.status.description());
                break;
            }
            file_problems_.push_back({problem.path, problem.status.description()});
            break;
        case ProblemKind::kNotice:
            notices_.push_back(problem.status.description());
            break;
        case ProblemKind::kBadPattern:
            view_.ShowMessage(
                "The regular expression cannot be used: " + problem.status.description(),
                "Regular Expression", MessageIcon::kWarning);
            break;
        case ProblemKind::kNoRestorePoint:
            view_.ShowMessage("No restore point can be made in '" + restore_base_ +
                                  "': " + problem.status.description() +
                                  "\n\nNothing was replaced, as the files could not be put back. "
                                  "Choose another restore point folder in Tools > Options.",
                              "Restore Point", MessageIcon::kCritical);
            break;
    }
}

void RunDriver::Totals(std::int32_t strings_found, std::int32_t files_with_hits) {
    view_.AppendRunLog("\n" + std::to_string(strings_found) + " string(s) found in \n" +
                       std::to_string(files_with_hits) + " file(s)");
    if (order_.kind == RunKind::kPreview) {
        view_.AppendRunLog("\nA preview: nothing was written.");
    }
    view_.SetStatusText(StatusPanel::kMatched, "Files Matched: " + std::to_string(files_with_hits));
}

bool RunDriver::StopPause() {
    try {
        view_.ProcessEvents();
        if (control_.StopPause()) {
            SetRunning(false);
            return true;
        }
        return false;
    } catch (const std::exception& error) {
        Log("frmMain: StopPause", kLogNumberUnexpected, error.what());
        return false;
    }
}

void RunDriver::SetRunning(bool running) {
    view_.SetRunning(running);
    view_.ProcessEvents();
}

bool RunDriver::PressPause() {
    std::lock_guard lock(timer_mutex_);
    const bool paused = control_.TogglePause();
    if (timer_ != nullptr) {
        if (paused) {
            timer_->Pause();
        } else {
            timer_->Start();
        }
    }
    return paused;
}

void RunDriver::NoteUndone() {
    undone_ = true;
    view_.AppendRunLog("\nUndone: the files this replace run changed were put back.");
    // A summary shown says so too; the other reports are marked by the log and status bar.
    const std::optional<ReportType> report = ShownReport();
    if (report && IsSummary(*report) && results_) {
        DisplaySummary(*report == ReportType::kSummaryWithFileList);
    }
}

void RunDriver::PressStop() {
    if (!stopped_listing_ && done_at_stop_ == 0) {
        stopped_listing_ = listing_.load();
        done_at_stop_ = files_done_.load();
    }
    std::lock_guard lock(timer_mutex_);
    control_.Stop();
    if (timer_ != nullptr) {
        timer_->Start();  // a stopped run's winding down is run time again
    }
}

void RunDriver::Cancel() {
    cancelled_.store(true);
    PressStop();
}

std::optional<ReportType> RunDriver::ShownReport() const {
    return order_.report ? order_.report : settings_.report_type;
}

void RunDriver::Log(const char* label, const char* number, const std::string& description) {
    if (!LogError(label, number, description)) {
        TellLogFailure();
    }
}

void RunDriver::TellLogFailure() {
    view_.ShowNotice(LogFailureMessage());
}

void RunDriver::ShowReport() {
    const std::optional<ReportType> report = ShownReport();
    if (!report) {
        return;
    }
    switch (*report) {
        case ReportType::kFileList:
            DisplayFileList();
            break;
        case ReportType::kStructured:
            DisplayStructuredList();
            break;
        case ReportType::kSummary:
            DisplaySummary(false);
            break;
        case ReportType::kSummaryWithFileList:
            DisplaySummary(true);
            break;
        case ReportType::kHitLines:
            DisplayHitLines();
            break;
    }
}

ReportBuildInput RunDriver::ReportInput() {
    ReportBuildInput input;
    input.start_folder = fields_.folder;
    input.searched = !fields_.search_text.empty();
    input.stop_requested = [this] { return StopPause(); };
    input.log_failed = [this] { TellLogFailure(); };
    return input;
}

void RunDriver::DisplayFileList() {
    if (!view_.HasReportViews()) {
        return;
    }
    view_.SetBusy(true);
    view_.SetStatusText(StatusPanel::kProgress, "...creating file list display");
    view_.ProcessEvents();
    FileListRows rows = BuildFileListRows(results_, ReportInput());
    if (rows.too_many) {
        view_.ShowMessage(kTooManyItemsText, kTooManyItemsTitle, MessageIcon::kInformation);
    }
    view_.ShowFileList(std::move(rows));
    view_.SetBusy(false);
}

void RunDriver::DisplayStructuredList() {
    if (!view_.HasReportViews()) {
        return;
    }
    view_.SetBusy(true);
    view_.SetStatusText(StatusPanel::kProgress, "...building structured display");
    view_.ProcessEvents();
    view_.ShowStructuredTree(BuildStructuredTree(results_, ReportInput()));
    view_.SetBusy(false);
}

void RunDriver::DisplayHitLines() {
    if (!view_.HasReportViews()) {
        return;
    }
    view_.ShowHitLines(hit_table_);
    view_.SetStatusText(StatusPanel::kProgress, "...report generated");
    // Lines gathered can be saved and printed as the other reports can.
    view_.EnableReportMenus(hit_table_ != nullptr);
}

void RunDriver::DisplaySummary(bool with_file_list) {
    view_.SetBusy(true);
    view_.SetStatusText(StatusPanel::kProgress, "...creating summary report");
    view_.ProcessEvents();
    SummaryHeader header;
    header.search_text = fields_.search_text;
    header.replace_text = fields_.replace_text;
    header.file_mask = fields_.file_mask;
    header.folder = fields_.folder;
    header.regex = run_regex_;
    header.recursive = fields_.recursive;
    header.ignore_case = fields_.ignore_case;
    header.whole_word = fields_.whole_word;
    header.preview = order_.kind == RunKind::kPreview;
    header.undone = undone_;
    header.restore_point = restore_folder_;
    header.skip_folders = fields_.skip_folders;
    header.use_ignore_files = fields_.use_ignore_files;
    header.skip_binary = fields_.skip_binary;
    header.binary_left_out = binary_left_out_;
    header.version_major = FERRET_VERSION_MAJOR;
    header.version_minor = FERRET_VERSION_MINOR;
    header.version_revision = FERRET_VERSION_PATCH;
    SummaryHooks hooks;
    hooks.stop_requested = [this] { return StopPause(); };
    hooks.log_failed = [this] { TellLogFailure(); };
    hooks.generated_at = FormatGeneralDateTime(QDateTime::currentDateTime());
    // The office handlers of the run, when it had any; a list alone asks the settings, once.
    std::optional<std::string> handlers;
    if (!office_extensions_.empty()) {
        handlers = office_extensions_;
    }
    hooks.handled_by_office = [this, &handlers](const std::string& file_name) {
        if (!handlers) {
            handlers = CurrentHandlerExtensions(settings_);
        }
        return UseSpecialFileHandler(file_name, *handlers);
    };
    view_.SetReportText(BuildSummaryReport(
        results_.get(), header, {strings_found_, files_with_hits_}, with_file_list, hooks));
    view_.SetStatusText(StatusPanel::kProgress, "...report generated");
    view_.EnableReportMenus(true);
    view_.SetBusy(false);
}

void RunDriver::RefreshSettings(const AppSettings& settings, bool force) {
    settings_ = settings;
    const std::optional<ReportType> report = ShownReport();
    const bool auto_update = settings_.auto_report_update;
    if (!report) {
        last_report_.reset();
        return;
    }
    view_.ShowReportView(*report);
    if (force || (auto_update && last_report_ && report != last_report_)) {
        view_.ClearReportViews(*report);
        if (results_) {
            ShowReport();
        }
    }
    last_report_ = report;
}

}  // namespace ferret
