#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>
#include <vector>

namespace ferret::testing {

// A temporary folder for one test, removed with everything in it (unreadable folders included)
// when the object goes away. Relative paths are taken below the folder.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder itself, without a trailing "/".
    const std::string& path() const { return path_; }
    std::string Path(const std::string& relative) const { return path_ + "/" + relative; }

    // Writes `content` to `relative`, creating missing folders on the way.
    void WriteFile(const std::string& relative, const std::string& content) const;
    // Writes a file of `size` bytes (sparse, so large sizes cost nothing).
    void WriteSizedFile(const std::string& relative, off_t size) const;
    void MakeDir(const std::string& relative) const;
    // `count` files holding `content` below `relative`, a hundred to a folder: a search's walk,
    // held to the pace of the search, cannot end before the files ahead of them are told.
    void MakeManyFiles(const std::string& relative, int count,
                       const std::string& content = {}) const;
    void Symlink(const std::string& target, const std::string& relative) const;
    void MakeFifo(const std::string& relative) const;
    void SetTimes(const std::string& relative, std::time_t modified, std::time_t accessed) const;
    std::string ReadFile(const std::string& relative) const;
    // The names in a folder (the temporary folder itself by default), sorted.
    std::vector<std::string> Names(const std::string& relative = "") const;

  private:
    std::string path_;
};

// Removes a tree of any depth, making folders writable and searchable on the way so nothing is
// left behind.
void RemoveTree(const std::string& path);

}  // namespace ferret::testing
