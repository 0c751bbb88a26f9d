// The command-line grammar on arbitrary text, and the argument rebuilding on generated argument
// lists.
//
// The input is read twice:
// - as the raw command-line text: parsing must finish, every element must be trimmed of the
//   spaces no quote kept, and the values it yields, passed again as separate arguments, must
//   come back the same;
// - as a recipe for an argument list of known switches, flags and values: each value must
//   arrive whole, blanks at its ends included (the first one of a switch wins), and each flag
//   must be seen.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz/fuzz_support.h"

namespace ferret {
namespace {

using fuzz::Printable;

// The values and flags of one parsed line, in one comparable record.
struct Parsed {
    std::string start_path, file_mask, log_path, search, replace, process_type, config;
    bool minimized, regex, sub_folders, exit_on_complete, ignore_case, has_arguments;

    explicit Parsed(const CommandLine& line)
        : start_path(line.StartPath()),
          file_mask(line.FileMask()),
          log_path(line.LogPath()),
          search(line.SearchString()),
          replace(line.ReplaceString()),
          process_type(line.ProcessType()),
          config(line.ConfigFile()),
          minimized(line.RunMinimized()),
          regex(line.UseRegEx()),
          sub_folders(line.SearchSubFolders()),
          exit_on_complete(line.ExitOnComplete()),
          ignore_case(line.IgnoreCase()),
          has_arguments(line.HasArguments()) {}

    bool operator==(const Parsed&) const = default;

    std::string Describe() const {
        return "p=" + Printable(start_path) + " k=" + Printable(file_mask) +
               " l=" + Printable(log_path) + " s=" + Printable(search) +
               " r=" + Printable(replace) + " e=" + Printable(process_type) +
               " config=" + Printable(config) + " m=" + std::to_string(minimized) +
               " rx=" + std::to_string(regex) + " b=" + std::to_string(sub_folders) +
               " x=" + std::to_string(exit_on_complete) + " i=" + std::to_string(ignore_case);
    }
};

std::string Joined(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) {
        text += "[" + Printable(argument) + "] ";
    }
    return text;
}

// The "-e:" value travels in its switch's own argument; only the part after its first space is
// quoted, so a "-" or a quote before that space would be cut by the split, and so would that
// space when it ends the value (nothing after it is quoted).
bool ProcessTypeTravelsWhole(const std::string& value) {
    const std::size_t space = value.find(' ');
    const std::string head = value.substr(0, space);
    return head.find_first_of("-\"") == std::string::npos &&
           (space == std::string::npos || space + 1 < value.size());
}

void CheckRawText(const std::string& raw) {
    const CommandLine line(raw);
    const Parsed parsed(line);
    FUZZ_CHECK(line.HasArguments() == !raw.empty(), Printable(raw));
    // Only a quote keeps a space at an element's end.
    const bool quoted = raw.find('"') != std::string::npos;
    for (const std::string& element : line.Elements()) {
        FUZZ_CHECK(element.empty() || (element.front() != ' ' && (quoted || element.back() != ' ')),
                   "untrimmed element " + Printable(element) + " of " + Printable(raw));
    }

    // The values as separate arguments, the way a shell would pass them.
    std::vector<std::string> arguments;
    const auto value = [&](const char* name, const std::string& text) {
        if (!text.empty()) {
            arguments.push_back(name);
            arguments.push_back(text);
        }
    };
    value("-p", parsed.start_path);
    value("-k", parsed.file_mask);
    value("-l", parsed.log_path);
    value("-s", parsed.search);
    value("-r", parsed.replace);
    value("-config", parsed.config);
    const bool type_travels = ProcessTypeTravelsWhole(parsed.process_type);
    if (!parsed.process_type.empty() && type_travels) {
        arguments.push_back("-e:" + parsed.process_type);
    }
    const std::pair<bool, const char*> flags[] = {{parsed.minimized, "-m"},
                                                  {parsed.regex, "-rx"},
                                                  {parsed.sub_folders, "-b"},
                                                  {parsed.exit_on_complete, "-x"},
                                                  {parsed.ignore_case, "-i"}};
    for (const auto& [set, name] : flags) {
        if (set) {
            arguments.push_back(name);
        }
    }
    if (arguments.empty()) {
        return;
    }
    const std::string rebuilt = CommandLine::RebuildCommandLine(arguments);
    Parsed again{CommandLine(rebuilt)};
    if (!type_travels) {
        again.process_type = parsed.process_type;
    }
    again.has_arguments = parsed.has_arguments;
    FUZZ_CHECK(again == parsed, "raw " + Printable(raw) + "\nfirst  " + parsed.Describe() +
                                    "\nrebuilt " + Printable(rebuilt) + "\nsecond " +
                                    again.Describe());
}

void CheckArgumentList(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    constexpr std::array<const char*, 6> kValueSwitches = {"p", "k", "l", "s", "r", "config"};
    constexpr std::array<const char*, 5> kFlags = {"m", "rx", "b", "x", "i"};
    std::vector<std::string> arguments;
    std::array<std::optional<std::string>, kValueSwitches.size()> expected;
    std::optional<std::string> expected_type;
    std::array<bool, kFlags.size()> expected_flags{};
    const int count = input.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        const int kind = input.ConsumeIntegralInRange(0, 3);
        if (kind == 0) {
            const std::size_t which =
                input.ConsumeIntegralInRange<std::size_t>(0, kFlags.size() - 1);
            arguments.push_back(std::string("-") + kFlags[which]);
            expected_flags[which] = true;
            continue;
        }
        std::string text = input.ConsumeRandomLengthString(64);
        if (kind == 3) {
            if (!ProcessTypeTravelsWhole(text)) {
                continue;
            }
            arguments.push_back("-e:" + text);
            if (!expected_type) {
                expected_type = text;
            }
            continue;
        }
        const std::size_t which =
            input.ConsumeIntegralInRange<std::size_t>(0, kValueSwitches.size() - 1);
        const std::string name = std::string("-") + kValueSwitches[which];
        if (kind == 1) {
            arguments.push_back(name);
            arguments.push_back(text);
        } else {
            arguments.push_back(name + " " + text);  // switch and value in one argument
        }
        if (!expected[which]) {
            expected[which] = text;
        }
    }
    const std::string rebuilt = CommandLine::RebuildCommandLine(arguments);
    const CommandLine line(rebuilt);
    const std::string where = "arguments " + Joined(arguments) + "\nrebuilt " + Printable(rebuilt);
    const std::string* got[] = {&line.StartPath(),    &line.FileMask(),      &line.LogPath(),
                                &line.SearchString(), &line.ReplaceString(), &line.ConfigFile()};
    for (std::size_t i = 0; i < kValueSwitches.size(); ++i) {
        FUZZ_CHECK(*got[i] == expected[i].value_or(""), std::string("switch -") +
                                                            kValueSwitches[i] + " gave " +
                                                            Printable(*got[i]) + "\n" + where);
    }
    FUZZ_CHECK(line.ProcessType() == expected_type.value_or(""),
               "-e gave " + Printable(line.ProcessType()) + "\n" + where);
    const bool got_flags[] = {line.RunMinimized(), line.UseRegEx(), line.SearchSubFolders(),
                              line.ExitOnComplete(), line.IgnoreCase()};
    for (std::size_t i = 0; i < kFlags.size(); ++i) {
        FUZZ_CHECK(got_flags[i] == expected_flags[i],
                   std::string("flag -") + kFlags[i] + " wrong\n" + where);
    }
    FUZZ_CHECK(line.HasArguments() == !arguments.empty(), where);
}

}  // namespace
}  // namespace ferret

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ferret::fuzz::TempRoot();  // the error log, should parsing log anything, stays in there
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ferret::CheckRawText(std::string(reinterpret_cast<const char*>(data), size));
    ferret::CheckArgumentList(data, size);
    return 0;
}
