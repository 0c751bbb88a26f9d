#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace ferret {

// The open, save and folder dialogs behind properties, over QFileDialog. Printing (the print
// dialog and ending a print job) belongs with the printing work and is not here yet.
class FileDialogs {
  public:
    // The dialog flags the program passes; the values are those of the original platform so
    // that callers and stored settings keep their meaning.
    static constexpr std::int32_t OFN_READONLY = 0x1;
    static constexpr std::int32_t OFN_OVERWRITEPROMPT = 0x2;
    static constexpr std::int32_t OFN_HIDEREADONLY = 0x4;
    static constexpr std::int32_t OFN_NOCHANGEDIR = 0x8;
    static constexpr std::int32_t OFN_ALLOWMULTISELECT = 0x200;
    static constexpr std::int32_t OFN_PATHMUSTEXIST = 0x800;
    static constexpr std::int32_t OFN_FILEMUSTEXIST = 0x1000;
    static constexpr std::int32_t OFN_EXPLORER = 0x80000;

    // What a dialog is asked to show; given to the test hook instead of showing it.
    struct Request {
        enum class Kind { kOpen, kSave, kFolder };
        Kind kind = Kind::kOpen;
        std::string title;
        std::string folder;                     // the starting folder
        std::string file_name;                  // the name offered at the start
        std::vector<std::string> name_filters;  // Qt's form: "Text files (*.txt *.log)"
        int selected_filter = 0;                // index into name_filters
        std::string default_suffix;
        bool multiple = false;
        bool confirm_overwrite = false;
    };
    // The paths chosen, or nothing (or an empty list) when the user cancelled.
    using Answer = std::optional<std::vector<std::string>>;
    using Hook = std::function<Answer(const Request&)>;
    // When a hook is installed, the dialogs call it instead of showing themselves (tests).
    // Returns the hook it replaces.
    static Hook SetTestHook(Hook hook);

    QWidget* Owner() const { return owner_; }
    void SetOwner(QWidget* owner) { owner_ = owner; }

    const std::string& InitDir() const { return init_dir_; }
    void SetInitDir(std::string folder) { init_dir_ = std::move(folder); }
    const std::string& DialogTitle() const { return title_; }
    void SetDialogTitle(std::string title) { title_ = std::move(title); }

    // "description|pattern|description|pattern", patterns separated by ";" as in
    // "Text (*.txt)|*.txt;*.log". Read back as set.
    const std::string& Filter() const { return filter_; }
    void SetFilter(std::string filter) { filter_ = std::move(filter); }
    // The filters in Qt's form, one per description and pattern pair.
    std::vector<std::string> NameFilters() const;
    static std::vector<std::string> NameFilters(const std::string& filter);

    // 1-based; 0 selects the first filter.
    int FilterIndex() const { return filter_index_; }
    void SetFilterIndex(int index) { filter_index_ = index; }
    // Added to a saved file name that has no extension; without the dot ("frs").
    const std::string& DefaultExt() const { return default_ext_; }
    void SetDefaultExt(std::string ext) { default_ext_ = std::move(ext); }

    // In: the name offered. Out: the full path chosen; for several files the folder and the
    // names, each after a NUL ("/home/a\0x.txt\0y.txt"), which ParseFileNames takes apart.
    const std::string& Filename() const { return filename_; }
    void SetFilename(std::string name) { filename_ = std::move(name); }
    // The chosen file's name without its folder (the first one's for several).
    const std::string& FileTitle() const { return file_title_; }
    // The folder of the choice with a trailing "/"; after Browse, the folder chosen.
    const std::string& Path() const { return path_; }

    std::int32_t flags() const { return flags_; }
    void Setflags(std::int32_t flags) { flags_ = flags; }

    // Kept for callers that size the name buffer; names are never cut here. Setting it
    // empties Filename, as resetting the buffer did.
    int MaxFileSize() const { return max_file_size_; }
    void SetMaxFileSize(int size) {
        max_file_size_ = size;
        filename_.clear();
    }

    // Show the dialog. Result: 1 when the user chose, 0 when cancelled (the properties keep
    // their values), negative when no dialog can be shown (no application object).
    int ShowOpen();
    int ShowSave();
    // Chooses a folder (starting at InitDir when set) into Path; 1 when chosen, 0 cancelled.
    int Browse();

    // The full paths in Filename: the one path, or the folder joined with each name.
    std::vector<std::string> ParseFileNames() const;

  private:
    int ShowFileDialog(Request::Kind kind);
    // The test hook's answer, or the dialog's; `shown` false when no dialog can be shown.
    Answer Ask(const Request& request, bool& shown) const;
    Request MakeRequest(Request::Kind kind) const;

    QWidget* owner_ = nullptr;
    std::string init_dir_;
    std::string title_;
    std::string filter_;
    int filter_index_ = 0;
    std::string default_ext_;
    std::string filename_;
    std::string file_title_;
    std::string path_;
    std::int32_t flags_ = 0;
    int max_file_size_ = 256;
};

}  // namespace ferret
