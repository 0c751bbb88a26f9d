// Searches office files through LibreOffice twice: once with one LibreOffice for all of them
// (as a run does), once starting LibreOffice for every file. Usage: office_bench TEXT FILE...
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "office/office_handlers.h"

namespace {

// Total hits over `files`, with `link` (or a LibreOffice per file when it is null).
long long SearchAll(ferret::OfficeLink* link, const std::string& text,
                    const std::vector<std::string>& files) {
    long long hits = 0;
    for (const std::string& file : files) {
        if (ferret::IsSpreadsheetName(file)) {
            ferret::SpreadsheetHandler handler(link);
            handler.SetFilename(file);
            handler.SetFindText(text);
            hits += handler.Find();
        } else {
            ferret::DocumentHandler handler(link);
            handler.SetFilename(file);
            handler.SetFindText(text);
            hits += handler.Find();
        }
    }
    return hits;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: office_bench TEXT FILE...\n");
        return 2;
    }
    const std::optional<ferret::OfficeSetup> setup = ferret::FindOfficeSetup();
    if (!setup) {
        std::fprintf(stderr, "office_bench: LibreOffice cannot be used here\n");
        return 1;
    }
    const std::string text = argv[1];
    const std::vector<std::string> files(argv + 2, argv + argc);
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    auto start = Clock::now();
    long long shared_hits = 0;
    {
        ferret::OfficeLink link(*setup);
        shared_hits = SearchAll(&link, text, files);
    }  // shut down: part of the run's cost
    const double shared = seconds(Clock::now() - start);
    start = Clock::now();
    const long long own_hits = SearchAll(nullptr, text, files);
    const double own = seconds(Clock::now() - start);
    std::printf(
        "%zu files: one LibreOffice for all %.2f s (%lld hits), one start per file "
        "%.2f s (%lld hits), ratio %.2f\n",
        files.size(), shared, shared_hits, own, own_hits, shared / own);
    return shared_hits == own_hits ? 0 : 1;
}
