// The ignore-file matcher on any text a cloned repository may hold, against properties of git's
// rules that need no second matcher:
// - it parses and matches any bytes without failing, in time (libFuzzer's timeout catches a
//   pattern whose backtracking grows exponentially with the path);
// - under ignore_case, swapping the case of the path's ASCII letters does not change the verdict;
// - a last line "*" ignores every path and a last line "!*" keeps it, since within a file the
//   last matching pattern decides and "*" matches the last part of any path.
//
// Input: the ignore file's text, a "\n\x01" and the path, its parts cut at "/" (empty parts,
// "." and ".." dropped, as a walk never gives them); the last byte's bits choose whether the path
// names a folder.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/ignore_rules.h"
#include "fuzz/fuzz_support.h"

namespace ferret {
namespace {

using fuzz::Printable;

std::string CleanPath(std::string_view raw) {
    std::string path;
    std::size_t start = 0;
    while (start <= raw.size()) {
        std::size_t end = raw.find('/', start);
        if (end == std::string_view::npos) {
            end = raw.size();
        }
        const std::string_view part = raw.substr(start, end - start);
        if (!part.empty() && part != "." && part != ".." &&
            part.find('\0') == std::string_view::npos) {
            if (!path.empty()) {
                path += '/';
            }
            path.append(part);
        }
        start = end + 1;
    }
    return path;
}

std::string SwappedCase(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::islower(byte)) {
            c = static_cast<char>(std::toupper(byte));
        } else if (std::isupper(byte)) {
            c = static_cast<char>(std::tolower(byte));
        }
    }
    return text;
}

}  // namespace
}  // namespace ferret

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferret;
    if (size == 0) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data), size - 1);
    const bool is_folder = (data[size - 1] & 1) != 0;
    const std::size_t cut = input.find("\n\x01");
    const std::string_view text = input.substr(0, cut);
    const std::string path =
        CleanPath(cut == std::string_view::npos ? std::string_view() : input.substr(cut + 2));

    const IgnoreList exact(text, false);
    const IgnoreList folded(text, true);
    if (path.empty()) {
        return 0;
    }
    const IgnoreList::Verdict by_exact = exact.Match(path, is_folder);
    (void)by_exact;
    const IgnoreList::Verdict by_folded = folded.Match(path, is_folder);
    FUZZ_CHECK(folded.Match(SwappedCase(path), is_folder) == by_folded,
               "rules: " + Printable(text) + "\npath: " + Printable(path));

    std::string last(text);
    last += "\n*\n";
    FUZZ_CHECK(IgnoreList(last, false).Match(path, is_folder) == IgnoreList::Verdict::kIgnored,
               "rules: " + Printable(last) + "\npath: " + Printable(path));
    last.resize(text.size());
    last += "\n!*\n";
    FUZZ_CHECK(IgnoreList(last, false).Match(path, is_folder) == IgnoreList::Verdict::kKept,
               "rules: " + Printable(last) + "\npath: " + Printable(path));
    return 0;
}
