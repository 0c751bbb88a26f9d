#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/temp_dir.h"

namespace ferret::testing {

// A stand-in for the user's editor, in a folder of its own: a script that writes the arguments
// it is started with, one a line, to a record file given as its first argument. The record
// appears whole, once written.
class StandInEditor {
  public:
    StandInEditor() {
        dir_.WriteFile("editor.sh",
                       "#!/bin/sh\nrecord=$1\nshift\nprintf '%s\\n' \"$@\" > \"$record.new\" && "
                       "mv \"$record.new\" \"$record\"\n");
        chmod(Script().c_str(), 0755);
    }

    std::string Script() const { return dir_.Path("editor.sh"); }
    std::string Record() const { return dir_.Path("record.txt"); }

    // The arguments of the next start after the record's path, waited for up to `seconds`; the
    // record goes, ready for the next. None when there was no start.
    std::vector<std::string> Arguments(double seconds = 10) const {
        const std::string record = Record();
        const auto give_up =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (access(record.c_str(), F_OK) != 0) {
            if (std::chrono::steady_clock::now() > give_up) {
                return {};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const std::string text = dir_.ReadFile("record.txt");
        unlink(record.c_str());
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            lines.push_back(text.substr(at, end - at));
            at = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }

  private:
    TempDir dir_;
};

}  // namespace ferret::testing
