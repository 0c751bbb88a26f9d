#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "util/status.h"

namespace ferret {

// Where the office programs are: the system's Python with the LibreOffice bridge module, the
// bridge script that ships with Ferret, and LibreOffice's soffice.
struct OfficeSetup {
    std::string python;
    std::string bridge;
    std::string soffice;
    // How long LibreOffice may take to start, and to answer for one file.
    std::chrono::seconds start_timeout{120};
    std::chrono::seconds file_timeout{300};
};

// The setup when every piece is present and Python can load the bridge module; nothing
// otherwise. Looks at the disk and runs Python once: callers keep the answer for a run.
// FERRET_OFFICE_BRIDGE names another bridge script and FERRET_OFFICE_TIMEOUT another time
// limit per file (seconds).
std::optional<OfficeSetup> FindOfficeSetup();

struct OfficeRequest {
    enum class Kind { kDocument, kSpreadsheet };
    Kind kind = Kind::kDocument;
    std::string path;
    std::string find;
    std::string replace;
    bool match_case = false;
    bool whole_word = false;  // hits only where a word starts and ends
    bool rewrite = false;     // replace the hits and save the document in its own format...
    std::string save_to;      // ...as this new file; `path` itself is never written
};

struct OfficeAnswer {
    std::int32_t count = -1;                                 // -1: the file could not be searched
    std::vector<std::pair<std::string, std::string>> cells;  // sheet, "$A$1"
    std::vector<std::string> cell_texts;                     // each cell's text, when told
    // A document's paragraphs that hold hits, in order: the text and its hits.
    std::vector<std::pair<std::string, std::int32_t>> paragraphs;
    bool saved = false;  // `save_to` was written
    std::int32_t error = 0;
    std::string description;
};

// One hidden LibreOffice, driven through the bridge, serving any number of files one after
// the other. Started on first use; a LibreOffice that hangs over one file is killed (that file
// gets its failure answer) and the next file starts a fresh one. Shut down when destroyed,
// whatever happened before. Thread-safe: requests are served one at a time.
//
// Each LibreOffice gets a private folder of its own under $TMPDIR (else /tmp),
// "ferret-office-XXXXXX", holding its profile and serving as its TMPDIR; its pipes, which it
// always makes in /tmp, are noted while it runs. However it ends (shut down, timed out, killed,
// crashed), once its processes are gone the folder goes with everything in it, and so do its
// pipes.
class OfficeLink {
  public:
    explicit OfficeLink(OfficeSetup setup);
    ~OfficeLink();
    OfficeLink(const OfficeLink&) = delete;
    OfficeLink& operator=(const OfficeLink&) = delete;

    OfficeAnswer Ask(const OfficeRequest& request);
    // How many times LibreOffice was started (for tests and benchmarks).
    int Starts() const;

  private:
    Status Start();
    void Stop(bool kill);
    // Notes the pipes the office's processes listen on, to remove them once it is gone.
    void NotePipes();
    // Removes the private folder and the pipes of an office whose processes are gone.
    void RemoveOwnFiles();
    Status Send(const std::string& line);
    // Reads one line until `deadline`; false on timeout, end or error.
    bool ReadLine(std::chrono::steady_clock::time_point deadline, std::string& line);

    const OfficeSetup setup_;
    mutable std::mutex mutex_;
    pid_t pid_ = -1;
    int socket_ = -1;
    std::string pending_;             // read past the last line
    std::string folder_;              // the running office's private folder ("" when none)
    std::vector<std::string> pipes_;  // the paths of its pipes
    bool broken_ = false;             // the last start failed: later files fail at once
    Status start_error_;
    int starts_ = 0;
};

}  // namespace ferret
