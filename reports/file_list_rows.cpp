#include "reports/file_list_rows.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <memory>
#include <string_view>

#include "engine/file_records.h"
#include "settings/error_log.h"
#include "util/app_locale.h"
#include "util/file_info.h"
#include "util/text_fold.h"

namespace ferret {

const std::array<const char*, kFileListColumnCount> kFileListHeaders = {
    "Name", "Folder", "Items Found", "Type", "Size", "Flags"};

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

// Reads size texts with the separators of the locale at construction, so a whole list is read
// without asking the locale per row.
class SizeTextReader {
  public:
    SizeTextReader()
        : group_(AppLocale().groupSeparator().toStdString()),
          decimal_(AppLocale().decimalPoint().toStdString()) {}

    double Bytes(std::string_view text) const {
        std::string number;
        number.reserve(text.size());
        std::size_t at = 0;
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
            ++at;
        }
        for (; at < text.size(); ++at) {
            const std::string_view rest = text.substr(at);
            if (IsDigit(text[at])) {
                number.push_back(text[at]);
            } else if (!decimal_.empty() && rest.starts_with(decimal_)) {
                number.push_back('.');
                at += decimal_.size() - 1;
            } else if (!group_.empty() && rest.starts_with(group_)) {
                at += group_.size() - 1;
            } else {
                break;
            }
        }
        double value = 0;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(),
                                                  value, std::chars_format::fixed);
        if (error != std::errc() || end != number.data() + number.size()) {
            return 0;
        }
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
            ++at;
        }
        return value * UnitFactor(text.substr(at));
    }

  private:
    static double UnitFactor(std::string_view unit) {
        std::string lower;
        for (const char c : unit) {
            if (c == ' ' || c == '\t') {
                break;
            }
            lower.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c);
        }
        constexpr double kKiB = 1024.0;
        if (lower == "kb" || lower == "k" || lower == "kib") {
            return kKiB;
        }
        if (lower == "mb" || lower == "m" || lower == "mib") {
            return kKiB * kKiB;
        }
        if (lower == "gb" || lower == "g" || lower == "gib") {
            return kKiB * kKiB * kKiB;
        }
        if (lower == "tb" || lower == "t" || lower == "tib") {
            return kKiB * kKiB * kKiB * kKiB;
        }
        return 1;  // "bytes", or a bare number
    }

    std::string group_;
    std::string decimal_;
};

namespace {

// Both texts already case-folded.
int CompareNaturalFolded(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            while (i < a.size() && a[i] == '0') {
                ++i;
            }
            while (j < b.size() && b[j] == '0') {
                ++j;
            }
            std::size_t end_a = i;
            std::size_t end_b = j;
            while (end_a < a.size() && IsDigit(a[end_a])) {
                ++end_a;
            }
            while (end_b < b.size() && IsDigit(b[end_b])) {
                ++end_b;
            }
            // Without leading zeros the longer run is the larger number.
            if (end_a - i != end_b - j) {
                return end_a - i < end_b - j ? -1 : 1;
            }
            const int digits = a.substr(i, end_a - i).compare(b.substr(j, end_b - j));
            if (digits != 0) {
                return digits < 0 ? -1 : 1;
            }
            i = end_a;
            j = end_b;
            continue;
        }
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    const std::size_t left_a = a.size() - i;
    const std::size_t left_b = b.size() - j;
    return left_a == left_b ? 0 : (left_a < left_b ? -1 : 1);
}

int CompareBytes(const std::string& a, const std::string& b) {
    const int c = a.compare(b);
    return c == 0 ? 0 : (c < 0 ? -1 : 1);
}

}  // namespace

std::string RootSelectedFolder(const std::string& root_path, const std::string& start_folder) {
    std::string trimmed = start_folder;
    while (!trimmed.empty() && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    if (trimmed.empty()) {
        return start_folder.empty() ? root_path : kRootSelected + root_path;
    }
    std::string out;
    std::size_t start = 0;
    for (std::size_t at = root_path.find(trimmed); at != std::string::npos;
         at = root_path.find(trimmed, start)) {
        out.append(root_path, start, at - start).append(kRootSelected);
        start = at + trimmed.size();
    }
    return out.append(root_path, start);
}

std::string FlagsText(const FileFacts& facts) {
    std::string flags;
    if (facts.hidden) {
        flags += "H ";
    }
    if (facts.read_only) {
        flags += "R ";
    }
    if (facts.system) {
        flags += "S ";
    }
    return flags;
}

FileFactsReader SystemFileFactsReader() {
    auto info = std::make_shared<FileInfo>();
    return [info](const std::string& full_path) {
        FileFacts facts;
        // The reader keeps the previous file's information on failure; never show that.
        if (info->SetFilePath(full_path)) {
            facts.type = info->Type();
            facts.hidden = info->Hidden();
            facts.read_only = info->ReadOnly();
            facts.system = info->System();
        }
        return facts;
    };
}

FileListRowMaker::FileListRowMaker(const ReportBuildInput& input)
    : start_folder_(input.start_folder),
      searched_(input.searched),
      read_facts_(input.read_facts ? input.read_facts : SystemFileFactsReader()),
      sizes_(std::make_unique<SizeTextReader>()) {}

FileListRowMaker::~FileListRowMaker() = default;

bool FileListRowMaker::Make(FileRecord& file, FileListRow& row) const {
    if (searched_ && file.ItemsFound() < 1) {
        return false;
    }
    FileFacts facts = read_facts_(file.FullPath());
    file.SetFiletype(facts.type);
    row.record = &file;
    row.items_found = file.ItemsFound();
    row.size_bytes = sizes_->Bytes(file.Size());
    row.text[kColumnName] = file.Filename();
    row.text[kColumnFolder] = RootSelectedFolder(file.RootPath(), start_folder_);
    row.text[kColumnItemsFound] = std::to_string(file.ItemsFound());
    row.text[kColumnType] = std::move(facts.type);
    row.text[kColumnSize] = file.Size();
    row.text[kColumnFlags] = FlagsText(facts);
    return true;
}

FileListRows BuildFileListRows(const FileRecords* files, const ReportBuildInput& input) {
    FileListRows out;
    if (files == nullptr) {
        return out;
    }
    if (files->Count() > input.display_limit) {
        out.too_many = true;
        return out;
    }
    FileListRowMaker maker(input);
    try {
        out.rows.reserve(static_cast<std::size_t>(files->Count()));
        for (FileRecord& file : *files) {
            FileListRow row;
            if (!maker.Make(file, row)) {
                continue;
            }
            out.rows.push_back(std::move(row));
            if (input.stop_requested && input.stop_requested()) {
                break;
            }
        }
    } catch (const std::exception& error) {
        if (!LogError("frmMain: DisplayFileList", kLogNumberUnexpected, error.what()) &&
            input.log_failed) {
            input.log_failed();
        }
    }
    return out;
}

FileListRows BuildFileListRows(const std::shared_ptr<FileRecords>& files,
                               const ReportBuildInput& input) {
    FileListRows rows = BuildFileListRows(files.get(), input);
    rows.owner = files;
    return rows;
}

double SizeTextBytes(const std::string& text) {
    return SizeTextReader().Bytes(text);
}

int CompareNatural(const std::string& a, const std::string& b) {
    const int folded = CompareNaturalFolded(FoldCase(a), FoldCase(b));
    return folded != 0 ? folded : CompareBytes(a, b);
}

std::vector<std::size_t> FileListSortOrder(const std::vector<FileListRow>& rows, int column,
                                           bool ascending) {
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    if (column < 0 || column >= kFileListColumnCount) {
        return order;
    }
    // Three-way comparison of rows a and b by the column, in ascending terms.
    std::function<int(std::size_t, std::size_t)> compare;
    std::vector<std::string> folded;
    if (column == kColumnItemsFound) {
        compare = [&rows](std::size_t a, std::size_t b) {
            const std::int32_t x = rows[a].items_found;
            const std::int32_t y = rows[b].items_found;
            return x == y ? 0 : (x < y ? -1 : 1);
        };
    } else if (column == kColumnSize) {
        compare = [&rows](std::size_t a, std::size_t b) {
            const double x = rows[a].size_bytes;
            const double y = rows[b].size_bytes;
            return x == y ? 0 : (x < y ? -1 : 1);
        };
    } else {
        // Folding once per row rather than per comparison.
        folded.reserve(rows.size());
        for (const FileListRow& row : rows) {
            folded.push_back(FoldCase(row.text[column]));
        }
        compare = [&rows, &folded, column](std::size_t a, std::size_t b) {
            const int c = CompareNaturalFolded(folded[a], folded[b]);
            return c != 0 ? c : CompareBytes(rows[a].text[column], rows[b].text[column]);
        };
    }
    std::stable_sort(order.begin(), order.end(),
                     [&compare, ascending](std::size_t a, std::size_t b) {
                         const int c = compare(a, b);
                         return ascending ? c < 0 : c > 0;
                     });
    return order;
}

void SortFileListRows(std::vector<FileListRow>& rows, int column, bool ascending) {
    const std::vector<std::size_t> order = FileListSortOrder(rows, column, ascending);
    std::vector<FileListRow> sorted;
    sorted.reserve(rows.size());
    for (const std::size_t from : order) {
        sorted.push_back(std::move(rows[from]));
    }
    rows = std::move(sorted);
}

}  // namespace ferret
