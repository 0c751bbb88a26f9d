#pragma once

#include <string>
#include <vector>

namespace ferret {

// The command line, parsed once at start-up and kept until the program ends; read-only after
// construction.
//
// The grammar is a small splitter: the text is cut at every "-" outside double quotes, each
// piece trimmed of the spaces around it that no quote kept is one element (a blank at the end of
// a quoted value stays: on a command line it was quoted on purpose). A flag counts when an
// element is exactly its name (case-sensitive): m, rx, b, x, i. A value switch is an element that
// starts with its name followed by its separator: "p folder", "k mask", "l file", "s text",
// "r text", "config file", "hits file", "diff file" (separator " ") and "e:search" or
// "e:replace" (separator ":"). "undo" alone, or "undo id" (a restore point, or "list"), undoes a
// replace run. The first matching element wins; anything else is ignored. Inside quotes "-" is
// plain text and "" stands for one quote; the character after a closing quote is dropped. A
// value is everything after the separator.
class CommandLine {
  public:
    // Parses `raw_text`, the arguments as one text (see RebuildCommandLine).
    explicit CommandLine(std::string raw_text);

    // Joins the arguments after the program's name into the one text the grammar reads, quoting
    // values that hold a space, a "-" or a quote so they arrive whole.
    static std::string RebuildCommandLine(const std::vector<std::string>& arguments);

    const std::string& ProcessType() const { return process_type_; }
    bool ExitOnComplete() const { return exit_on_complete_; }
    bool IgnoreCase() const { return ignore_case_; }
    bool SearchSubFolders() const { return search_sub_folders_; }
    bool HasArguments() const { return has_arguments_; }
    bool UseRegEx() const { return use_regex_; }
    bool RunMinimized() const { return run_minimized_; }
    const std::string& StartPath() const { return start_path_; }
    const std::string& LogPath() const { return log_path_; }
    // "-hits": where the hit lines go ("-" for standard output).
    const std::string& HitsPath() const { return hits_path_; }
    // "-json": where the hits go as JSON Lines ("-" for standard output).
    const std::string& JsonPath() const { return json_path_; }
    // "-diff": where a replace run's changes go as a patch, the files left as they are ("-" for
    // standard output).
    const std::string& DiffPath() const { return diff_path_; }
    const std::string& ConfigFile() const { return config_file_; }
    const std::string& SearchString() const { return search_string_; }
    const std::string& ReplaceString() const { return replace_string_; }
    const std::string& FileMask() const { return file_mask_; }
    // "-skip": folder names the walk does not enter; "-gitignore": what the ignore files leave
    // out is left out; "-nobinary": binary files are neither searched nor listed.
    const std::string& SkipFolders() const { return skip_folders_; }
    bool GitIgnore() const { return git_ignore_; }
    bool NoBinary() const { return no_binary_; }
    // "-z": archives, compressed files and PDFs are searched inside.
    bool Inside() const { return inside_; }
    // "-enc": the encoding every file without a byte-order mark is read in.
    const std::string& Encoding() const { return encoding_; }
    // "-w": hits are whole words.
    bool WholeWord() const { return whole_word_; }
    // "-undo": the restore point to undo ("" for the newest), or "list".
    bool Undo() const { return undo_; }
    // Whether an error of reading the command line could not be written to the error log (see
    // LogError): the caller tells the user.
    bool LogFailed() const { return log_failed_; }
    const std::string& UndoTarget() const { return undo_target_; }

    // The elements the split produced, trimmed of unquoted spaces, in order.
    const std::vector<std::string>& Elements() const { return elements_; }

    // The pieces of the grammar, public for tests.
    static std::vector<std::string> SplitArguments(const std::string& text, char delimiter);

  private:
    void ProcessCommandLine();
    bool HasSwitch(const std::string& name, bool case_sensitive) const;
    std::string GetSwitchValue(const std::string& name, char separator) const;

    std::string raw_text_;
    bool log_failed_ = false;
    std::vector<std::string> elements_;
    std::string process_type_;
    bool exit_on_complete_ = false;
    bool ignore_case_ = false;
    bool search_sub_folders_ = false;
    bool has_arguments_ = false;
    bool use_regex_ = false;
    bool run_minimized_ = false;
    std::string start_path_;
    std::string log_path_;
    std::string hits_path_;
    std::string json_path_;
    std::string diff_path_;
    std::string config_file_;
    std::string search_string_;
    std::string replace_string_;
    std::string file_mask_;
    std::string skip_folders_;
    std::string encoding_;
    bool git_ignore_ = false;
    bool no_binary_ = false;
    bool inside_ = false;
    bool whole_word_ = false;
    bool undo_ = false;
    std::string undo_target_;
};

}  // namespace ferret
