#pragma once

// Archives the tests read, made with Python's own modules: no archiver is needed.
#include <string>
#include <utility>
#include <vector>

#include "testsupport/run_program.h"

namespace ferret::testing {

// An entry's bytes given as those of the file at `path` (another archive, to nest it).
inline std::string BytesOfFile(const std::string& path) {
    return std::string(
               "\x01"
               "file:") +
           path;
}

// Writes at `path` an archive of the given entries (name and bytes), its kind by the name's
// ending: .zip, .tar, .tar.gz, .tar.bz2, .tar.xz; or, for .gz, .bz2 and .xz alone, the first
// entry's bytes compressed. False, with Python's complaint in `error`, when it could not.
inline bool WriteArchive(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& entries,
                         std::string* error = nullptr) {
    const std::string script = R"py(
import bz2, gzip, io, lzma, sys, tarfile, zipfile
path, args = sys.argv[1], sys.argv[2:]
def data(text):
    return open(text[6:], "rb").read() if text.startswith("\x01file:") else text.encode("utf-8", "surrogateescape")
entries = [(args[i], data(args[i + 1])) for i in range(0, len(args), 2)]
if path.endswith(".zip"):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            z.writestr(name, data)
elif ".tar" in path:
    mode = {"gz": "w:gz", "bz2": "w:bz2", "xz": "w:xz"}.get(path.rsplit(".", 1)[1], "w")
    with tarfile.open(path, mode) as t:
        for name, data in entries:
            info = tarfile.TarInfo(name); info.size = len(data); t.addfile(info, io.BytesIO(data))
else:
    pack = {"gz": gzip.compress, "bz2": bz2.compress, "xz": lzma.compress}[path.rsplit(".", 1)[1]]
    open(path, "wb").write(pack(entries[0][1]))
)py";
    std::vector<std::string> arguments = {"-c", script, path};
    for (const auto& [name, data] : entries) {
        arguments.push_back(name);
        arguments.push_back(data);
    }
    const ProgramResult made = RunProgram(FindProgram("python3"), arguments);
    if (error != nullptr) {
        *error = made.err;
    }
    return made.exit_code == 0;
}

}  // namespace ferret::testing
