#include "app/command_process.h"

#include <unistd.h>

#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "app/saved_search.h"
#include "engine/change_finder.h"
#include "reports/hit_line_text.h"
#include "reports/quoted_name.h"
#include "reports/unified_diff.h"
#include "settings/app_settings.h"
#include "settings/error_log.h"
#include "settings/search_config.h"
#include "util/app_paths.h"
#include "util/legacy_text.h"
#include "util/spill_buffer.h"
#include "util/text_encoding.h"

namespace ferret {
namespace {

// Folders are kept absolute and clean, so the report can shorten the listed paths. The work is
// done on the bytes: a folder name need not be UTF-8, and a round trip through QString would
// turn its stray bytes into U+FFFD and name a folder that does not exist.
std::string AbsoluteFolder(const std::string& folder) {
    if (folder.empty()) {
        return folder;
    }
    std::string path = folder;
    if (folder.front() != '/') {
        std::unique_ptr<char, decltype(&free)> here(getcwd(nullptr, 0), &free);
        if (here) {
            path = std::string(here.get()) + "/" + folder;
        }
    }
    // As QDir::cleanPath: no empty or "." parts, ".." takes away the part before it.
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (path.front() != '/') {
                parts.push_back(part);  // a relative path keeps the ".." it starts with
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string clean = path.front() == '/' ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        clean += (i == 0 ? "" : "/") + parts[i];
    }
    return clean.empty() ? "." : clean;
}

void Tell(RunView& view, const std::string& text) {
    view.ShowMessage(text, "Unattended run", MessageIcon::kCritical);
}

// A problem as one line: its path written as names are in text outputs, the rest of its text
// (which may name the file again) with control characters escaped.
std::string ProblemLine(const RunDriver::FileProblem& problem) {
    std::string line;
    std::string_view rest = problem.text;
    if (!problem.path.empty() && rest.starts_with(problem.path)) {
        AppendQuotedName(line, problem.path);
        rest.remove_prefix(problem.path.size());
    }
    AppendEscapedText(line, rest);
    return line;
}

// One line on standard error for every file the run could not do, whether or not the error log
// is on, and the status that tells a script so.
void TellFileProblems(const RunDriver& driver, int& status) {
    for (const RunDriver::FileProblem& problem : driver.FileProblems()) {
        std::fprintf(stderr, "ferret: not done: %s\n", ProblemLine(problem).c_str());
    }
    for (const std::string& notice : driver.Notices()) {
        std::fprintf(stderr, "ferret: note: %s\n", EscapedText(notice).c_str());
    }
    if (!driver.FileProblems().empty() && status == kExitDone) {
        status = kExitNotDone;
    }
    std::fflush(stderr);
}

// Text an unattended run writes as it goes: to standard output at once ("-"), or to a file
// put in place whole when the run ends, in one step as the report is (its text goes to the new
// file's temporary as it comes, so no run holds it all).
class RunOutput {
  public:
    explicit RunOutput(std::string path) : path_(std::move(path)) {
        if (!ToStandardOutput()) {
            opened_ = file_.Open(path_);
        }
    }

    bool ToStandardOutput() const { return path_ == "-"; }
    // Where the text goes; Flush hands it on.
    std::string& Text() { return text_; }
    void Flush() {
        if (ToStandardOutput() && !text_.empty()) {
            if (error_ == 0 && std::fwrite(text_.data(), 1, text_.size(), stdout) != text_.size()) {
                error_ = errno != 0 ? errno : EIO;
            }
            text_.clear();
        } else if (!ToStandardOutput() && text_.size() >= kFileChunk) {
            WriteToFile();
        }
    }
    // Hands the text on once there is a chunk of it: a file with many hits is never held whole.
    void FlushIfLarge() {
        if (text_.size() >= kFileChunk) {
            Flush();
        }
    }
    // Writes what is left; the error, with the path, when the text could not all be written.
    Status Finish() {
        if (!ToStandardOutput()) {
            WriteToFile();
            if (!opened_.ok()) {
                return opened_;
            }
            return file_.Finish();
        }
        if (std::fflush(stdout) != 0 && error_ == 0) {
            error_ = errno != 0 ? errno : EIO;
        }
        // A reader that has seen enough (head) is no failure.
        if (error_ != 0 && error_ != EPIPE) {
            return Status::Error(error_, std::string("standard output: ") + strerror(error_));
        }
        return {};
    }

  private:
    static constexpr std::size_t kFileChunk = 64 << 10;

    void WriteToFile() {
        if (opened_.ok()) {
            opened_ = file_.Write(text_);
        }
        text_.clear();
    }

    std::string path_;
    std::string text_;
    int error_ = 0;
    OutputStream file_;
    Status opened_;  // of the file: a failure, once, is told when the run ends
};

// An unattended run's hit lines as quickfix lines. A binary file's lines, and a document's or
// spreadsheet's places, are not listed; a note on standard error tells how many.
class HitLineOutput : public RunOutput {
  public:
    using RunOutput::RunOutput;

    void Take(const FileRecord& file, const FileHits& hits) {
        if (hits.binary) {
            ++binary_;
            return;
        }
        const std::string path =
            QuotedName(file.FullPath(), file.Inside() != nullptr && file.Inside()->Strays());
        bool listed = false;
        for (const HitLine& line : hits.lines) {
            if (line.hits > 0 && line.number > 0) {
                Text() += path;
                AppendQuickfixPlace(Text(), line);
                listed = true;
                FlushIfLarge();
            }
        }
        if (!listed && !hits.lines.empty()) {
            ++documents_;
        }
        Flush();
    }

    Status Finish() {
        if (binary_ > 0) {
            std::fprintf(stderr,
                         "ferret: note: %zu binary file(s) with hits are not listed (each holds a "
                         "NUL byte)\n",
                         binary_);
        }
        if (documents_ > 0) {
            std::fprintf(stderr,
                         "ferret: note: %zu document(s) or spreadsheet(s) with hits are not "
                         "listed (their hits are in paragraphs or cells, not lines)\n",
                         documents_);
        }
        return RunOutput::Finish();
    }

  private:
    std::size_t binary_ = 0;
    std::size_t documents_ = 0;
};

// Appends `"key":"value"` for a text of the run, or, when it is not UTF-8 (a name from disk may be
// any bytes), `"key_bytes":"BASE64"` as ripgrep's --json does, so no byte is lost or altered.
void AppendJsonText(std::string& out, std::string_view key, std::string_view value) {
    out += '"';
    out += key;
    if (!IsValidUtf8(value)) {
        out += "_bytes\":\"";
        out +=
            QByteArray(value.data(), static_cast<qsizetype>(value.size())).toBase64().toStdString();
        out += '"';
        return;
    }
    out += "\":\"";
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

// An unattended run's hits as JSON Lines, in the spirit of `rg --json`: one object per hit as
// it is found, {"type":"hit","path":…,"line":N,"column":C,"start":S,"end":E,"text":…} (bytes
// in the line, as -hits counts them; the text cut as -hits cuts it), then one per file with
// hits or a problem, {"type":"file","path":…,"hits":N} or {…,"problem":…}, and a summary.
class JsonOutput : public RunOutput {
  public:
    using RunOutput::RunOutput;

    void Take(const FileRecord& file, const FileHits& hits) {
        const std::string path = file.FullPath();
        for (const HitLine& line : hits.lines) {
            if (line.hits == 0 || line.number == 0) {
                continue;  // context, or a document's place
            }
            if (line.spans.empty()) {  // a decoded file's lines know their first hit only
                Hit(path, line, static_cast<std::uint64_t>(line.column - 1), std::nullopt);
            }
            for (const HitLine::Span& span : line.spans) {
                Hit(path, line, span.start, span.end);
            }
            FlushIfLarge();
        }
        Flush();
    }

    // The files with hits or problems, and the totals, once the run is done.
    void Files(const RunDriver& driver) {
        std::int64_t files = 0;
        std::int64_t total = 0;
        if (const std::shared_ptr<FileRecords>& records = driver.Results()) {
            files += records->Total() - records->Count();  // let go: searched, without hits
            for (const FileRecord& record : *records) {
                files += record.ItemsFound() == kLeftOutBinary ? 0 : 1;
                if (record.ItemsFound() > 0) {
                    total += record.ItemsFound();
                    Text() += "{\"type\":\"file\",";
                    AppendJsonText(Text(), "path", record.FullPath());
                    Text() += ",\"hits\":" + std::to_string(record.ItemsFound()) + "}\n";
                }
            }
        }
        for (const RunDriver::FileProblem& problem : driver.FileProblems()) {
            Text() += "{\"type\":\"file\",";
            AppendJsonText(Text(), "path", problem.path);
            Text() += ',';
            AppendJsonText(Text(), "problem", problem.text);
            Text() += "}\n";
        }
        Text() += "{\"type\":\"summary\",\"files\":" + std::to_string(files) +
                  ",\"files_with_hits\":" + std::to_string(driver.FilesWithHits()) +
                  ",\"hits\":" + std::to_string(total) +
                  ",\"problems\":" + std::to_string(driver.FileProblems().size()) +
                  (driver.BinaryLeftOut() > 0
                       ? ",\"binary_left_out\":" + std::to_string(driver.BinaryLeftOut())
                       : std::string()) +
                  "}\n";
        Flush();
    }

  private:
    void Hit(const std::string& path, const HitLine& line, std::uint64_t start,
             std::optional<std::uint64_t> end) {
        std::string& out = Text();
        out += "{\"type\":\"hit\",";
        AppendJsonText(out, "path", path);
        if (line.page > 0) {
            out += ",\"page\":" + std::to_string(line.page);
        }
        out += ",\"line\":" + std::to_string(line.number) +
               ",\"column\":" + std::to_string(start + 1) + ",\"start\":" + std::to_string(start);
        if (end) {
            out += ",\"end\":" + std::to_string(*end);
        }
        out += ',';
        AppendJsonText(out, "text", line.text);
        out += "}\n";
    }
};

// A replace run's changes as a patch for `patch -p0` and `git apply -p0` run in the start
// folder: each file's path under it, and for files a text patch cannot carry (UTF-16, NUL bytes,
// documents and spreadsheets) the line diff gives binary files. So does a file in a legacy
// encoding: a patch is one text, in UTF-8, and lines in another encoding would garble it.
class DiffOutput : public RunOutput {
  public:
    DiffOutput(std::string path, const std::string& folder) : RunOutput(std::move(path)) {
        // Changed files are named by their real paths, so the folder is taken as real too.
        std::unique_ptr<char, decltype(&free)> resolved(realpath(folder.c_str(), nullptr), &free);
        folder_ = resolved ? resolved.get() : folder;
        if (folder_.empty() || folder_.back() != '/') {
            folder_ += '/';
        }
    }

    void Take(const FileRecord& file, const FilePreview& preview) {
        // The file itself, links resolved: a patch does not go through links. One outside the
        // folder keeps its full path.
        std::string label = preview.target.empty() ? file.FullPath() : preview.target;
        if (label.rfind(folder_, 0) == 0) {
            label.erase(0, folder_.size());
        }
        const RewritePlan& plan = preview.plan;
        const bool text =
            !preview.office && preview.finder &&
            (plan.mark == ByteOrderMark::kNone || plan.mark == ByteOrderMark::kUtf8) &&
            plan.legacy.empty() && !plan.holds_nul;
        if (!text) {
            Text() += BinaryDiff(label);
            Flush();
            return;
        }
        // A file's patch goes out whole or not at all.
        SpillBuffer patch;
        if (const Status made = MakePatch(label, preview, patch); !made.ok()) {
            LeftOut(preview, made);
            return;
        }
        const Status copied = patch.Drain([this](std::string_view bytes) {
            Text() += bytes;
            Flush();
            return Status();
        });
        if (!copied.ok()) {
            LeftOut(preview, copied);
        }
    }

    // Writes what is left; an error when a file's changes could not be put in the patch.
    Status Finish() {
        Status status = RunOutput::Finish();
        if (status.ok() && left_out_ > 0) {
            status = Status::Error(EIO, std::to_string(left_out_) +
                                            (left_out_ == 1 ? " file was" : " files were") +
                                            " left out of it; the first, " + first_left_out_);
        }
        return status;
    }

  private:
    void LeftOut(const FilePreview& preview, const Status& why) {
        if (left_out_++ == 0) {
            first_left_out_ = QuotedName(preview.target) + ": " + why.description();
        }
    }

    // The patch of a previewed file as `label`, its changes found again as it is read.
    static Status MakePatch(const std::string& label, const FilePreview& preview,
                            SpillBuffer& patch) {
        Fd original;
        if (Status status = OpenPreviewed(preview.target, preview.plan.seen, original);
            !status.ok()) {
            return status;
        }
        const int fd = original.get();
        UnifiedDiffWriter writer(
            label,
            [fd](std::uint64_t offset, char* into, std::size_t size) {
                return ReadFullAt(fd, into, size, offset).bytes == size;
            },
            [&patch](std::string_view bytes) { return patch.Append(bytes); });
        if (Status status = StreamChanges(fd, *preview.finder, writer); !status.ok()) {
            return status;
        }
        return writer.Finish();
    }

    std::size_t left_out_ = 0;  // files whose changes could not be put in the patch
    std::string first_left_out_;
    std::string folder_;
};

}  // namespace

SearchFields LoadStartupFields() {
    const AppSettings settings = ReadAppSettings();
    SearchFields fields;
    fields.folder = AbsoluteFolder(settings.startup_folder);
    fields.file_mask = settings.file_filter_mask == "none" ? "*.*" : settings.file_filter_mask;
    fields.recursive = settings.search_subfolders;
    return fields;
}

namespace {

// The fields from the saved search the switches name, or from the switches, over the startup
// fields. False, after telling why, when the saved search cannot be read.
// The switches that add to a saved search as to the other switches: what a walk leaves out, and
// looking inside archives.
void TakeAddingSwitches(const CommandLine& line, SearchFields& fields) {
    if (!line.SkipFolders().empty()) {
        fields.skip_folders = line.SkipFolders();
    }
    fields.use_ignore_files = fields.use_ignore_files || line.GitIgnore();
    fields.skip_binary = fields.skip_binary || line.NoBinary();
    fields.search_inside = fields.search_inside || line.Inside();
}

bool TakeFields(const CommandLine& line, RunView& view, SearchFields& fields) {
    if (!line.ConfigFile().empty()) {
        SearchSettings saved;
        const Status loaded = LoadSearchSettings(line.ConfigFile(), saved);
        if (!loaded.ok()) {
            Tell(view, "cannot read the saved search '" + line.ConfigFile() +
                           "': " + loaded.description());
            return false;
        }
        ApplySavedSearch(saved, fields);
        fields.folder = AbsoluteFolder(fields.folder);
        TakeAddingSwitches(line, fields);
        return true;
    }
    TakeAddingSwitches(line, fields);
    if (!line.StartPath().empty()) {
        fields.folder = AbsoluteFolder(line.StartPath());
    }
    fields.search_text = line.SearchString();
    fields.replace_text = line.ReplaceString();
    fields.regex = line.UseRegEx();
    fields.ignore_case = line.IgnoreCase();
    fields.whole_word = line.WholeWord();
    fields.recursive = line.SearchSubFolders();
    if (!line.FileMask().empty()) {
        fields.file_mask = line.FileMask();
    }
    return true;
}

// What a replace run tells on the run's own lines: the leftovers it removed and its restore
// point, or that it refused to start.
void TellReplaceOutcome(const RunDriver& driver, std::FILE* told, int& status) {
    for (const std::string& left : driver.LeftoversRemoved()) {
        std::fprintf(told, "Removed %s, a new file an interrupted replace run had left\n",
                     QuotedName(left).c_str());
    }
    if (driver.ReplaceRefused() || driver.PatternRefused()) {
        status = kExitBadInput;
    } else if (!driver.RestorePointFolder().empty()) {
        const std::string& folder = driver.RestorePointFolder();
        std::fprintf(told, "Restore point: %s (undo with: ferret -undo %s)\n",
                     QuotedName(folder).c_str(),
                     QuotedName(folder.substr(folder.rfind('/') + 1)).c_str());
        std::fflush(told);
    }
}

// Ends an output of the run; one that cannot be written makes the status bad input.
template <typename Output>
void FinishOutput(std::optional<Output>& output, RunView& view, const std::string& what,
                  const std::string& path, int& status) {
    if (!output) {
        return;
    }
    if (const Status written = output->Finish(); !written.ok()) {
        Tell(view, "cannot write " + what + " to '" + path + "': " + written.description());
        status = kExitBadInput;
    }
}

// Whether the fields taken from the command line make a run that can start; tells why not.
bool CanRun(const CommandLine& line, RunView& view, const SearchFields& fields) {
    const bool wants_run = line.ProcessType() == "search" || line.ProcessType() == "replace";
    if (wants_run && !IsFolder(fields.folder)) {
        Tell(view, "the folder '" + fields.folder + "' does not exist");
        return false;
    }
    if (!line.DiffPath().empty() && line.ProcessType() != "replace") {
        Tell(view, "-diff shows the changes of a replace run: it needs -e:replace");
        return false;
    }
    if (!line.Encoding().empty() && !KnownEncoding(line.Encoding())) {
        Tell(view, "the encoding '" + line.Encoding() +
                       "' is not known to this system (see iconv --list)");
        return false;
    }
    return true;
}

// The outputs of an unattended run as its switches ask for them.
struct Outputs {
    // Opens them and gives `order` what feeds them.
    void Open(const CommandLine& line, bool wants_run, RunOrder& order) {
        if (!line.DiffPath().empty()) {
            diff.emplace(line.DiffPath(), order.fields.folder);
            order.previewed = [this](const FileRecord& file, FilePreview& preview) {
                diff->Take(file, preview);
            };
            order.preview_changes = true;
        }
        if (!line.HitsPath().empty() && wants_run) {
            hit_lines.emplace(line.HitsPath());
        }
        if (!line.JsonPath().empty() && wants_run) {
            json.emplace(line.JsonPath());
            order.hit_spans = true;
        }
        if (hit_lines || json) {
            order.hit_lines = [this](const FileRecord& file, const FileHits& hits) {
                if (hit_lines) {
                    hit_lines->Take(file, hits);
                }
                if (json) {
                    json->Take(file, hits);
                }
            };
        }
    }

    std::optional<DiffOutput> diff;
    std::optional<HitLineOutput> hit_lines;
    std::optional<JsonOutput> json;
};

// The report file of a run, then the window's report as the user's settings have it again.
void WriteReport(const CommandLine& line, RunDriver& driver, RunView& view, int& status) {
    // A refused pattern searched nothing: no report claims it found nothing.
    if (!driver.PatternRefused()) {
        const Status written = WriteReportFile(line.LogPath(), view.ReportText());
        if (!written.ok()) {
            Tell(view,
                 "cannot write the report file '" + line.LogPath() + "': " + written.description());
            status = kExitBadInput;
        }
    }
    driver.RefreshSettings(ReadAppSettings(), true);
}

}  // namespace

int CommandProcess(const CommandLine& line, RunDriver& driver, RunView& view,
                   SearchFields& fields) {
    try {
        const bool wants_run = line.ProcessType() == "search" || line.ProcessType() == "replace";
        if (!TakeFields(line, view, fields) || !CanRun(line, view, fields)) {
            return kExitBadInput;
        }
        int status = kExitDone;
        RunOrder order;
        order.fields = fields;
        order.encoding = line.Encoding();
        Outputs outputs;
        outputs.Open(line, wants_run, order);
        std::optional<DiffOutput>& diff = outputs.diff;
        std::optional<HitLineOutput>& hit_lines = outputs.hit_lines;
        std::optional<JsonOutput>& json = outputs.json;
        // A report file holds the summary with every file, whatever the user's own report type:
        // the choice is the run's alone and is not stored, so runs at the same time (from a
        // schedule, say) cannot leave the user's setting changed. The window shows the user's
        // type again afterwards.
        const bool report_file = !line.LogPath().empty();
        if (report_file) {
            order.report = ReportType::kSummaryWithFileList;
        }
        // Only the report file and the JSON name the files after the run: without them a search
        // of a whole system keeps none of its records.
        order.keep_records = report_file || json;
        // With hit lines or a patch on standard output, the run's own lines go to standard error.
        std::FILE* const told = (hit_lines && hit_lines->ToStandardOutput()) ||
                                        (diff && diff->ToStandardOutput()) ||
                                        (json && json->ToStandardOutput())
                                    ? stderr
                                    : stdout;
        if (line.ProcessType() == "search") {
            order.kind = RunKind::kSearch;
            driver.StartProcess(std::move(order));
            TellFileProblems(driver, status);
            if (driver.PatternRefused()) {
                status = kExitBadInput;
            }
        } else if (line.ProcessType() == "replace") {
            // Without both texts the run says so and changes nothing.
            if (fields.search_text.empty() || fields.replace_text.empty()) {
                status = kExitBadInput;
            }
            order.kind = diff ? RunKind::kPreview : RunKind::kReplace;
            driver.StartProcess(std::move(order));
            TellFileProblems(driver, status);
            TellReplaceOutcome(driver, told, status);
        }
        FinishOutput(diff, view, "the changes", line.DiffPath(), status);
        FinishOutput(hit_lines, view, "the hit lines", line.HitsPath(), status);
        if (json) {
            json->Files(driver);
        }
        FinishOutput(json, view, "the hits as JSON", line.JsonPath(), status);
        if (report_file) {
            WriteReport(line, driver, view, status);
        }
        return status;
    } catch (const std::exception& error) {
        if (!LogError("frmMain: CommandProcess", kLogNumberUnexpected, error.what())) {
            view.ShowNotice(LogFailureMessage());
        }
        return kExitBadInput;
    }
}

}  // namespace ferret
