// The names of archives and compressed files: a part of every binding of the readers (linked in,
// or loaded when first needed), so that telling an archive by its name loads no reader.

#include <strings.h>

#include "util/archive_reader.h"

namespace ferret {

using namespace std::string_view_literals;

namespace {

// Whether `name` ends with `ending` (any case) and holds more than it.
bool EndsWith(std::string_view name, std::string_view ending) {
    return name.size() > ending.size() && strncasecmp(name.data() + name.size() - ending.size(),
                                                      ending.data(), ending.size()) == 0;
}

}  // namespace

bool LooksLikeArchive(std::string_view name) {
    static constexpr std::string_view kEndings[] = {".zip", ".tar",  ".tgz", ".tbz2",
                                                    ".txz", ".tzst", ".7z",  ".cpio"};
    for (const std::string_view ending : kEndings) {
        if (EndsWith(name, ending)) {
            return true;
        }
    }
    return DataNameOf(name).size() < name.size();
}

std::string_view DataNameOf(std::string_view name) {
    for (const std::string_view ending : {".gz"sv, ".bz2"sv, ".xz"sv, ".zst"sv}) {
        if (EndsWith(name, ending)) {
            name.remove_suffix(ending.size());
            return name;
        }
    }
    return name;
}

}  // namespace ferret
