#pragma once

#include <cstdint>
#include <string>

namespace ferret {

// Turns the identifiers of the few special folders the program uses into paths: the user's
// documents, desktop and pictures are the XDG user folders; the program files are /usr/bin.
class UserFolders {
  public:
    static constexpr int kPersonal = 5;  // "My Documents"
    static constexpr int kDesktop = 16;
    static constexpr int kProgramFiles = 38;
    static constexpr int kMyPictures = 39;

    // Create the folder when it does not exist yet.
    bool PerUserInit() const { return per_user_init_; }
    void SetPerUserInit(bool on) { per_user_init_ = on; }
    // Kept for callers; Linux folder names have no aliases to resolve.
    bool NoAlias() const { return no_alias_; }
    void SetNoAlias(bool on) { no_alias_ = on; }
    // Give the path even when the folder does not exist.
    bool DontVerify() const { return dont_verify_; }
    void SetDontVerify(bool on) { dont_verify_ = on; }

    // The folder's path without a trailing "/". Empty for an unknown identifier, or when the
    // folder does not exist (and neither PerUserInit made it nor DontVerify allows it).
    // `owner` stands for the asking window and is not needed here.
    std::string GetFolderPath(int csidl, std::intptr_t owner = 0) const;

  private:
    bool per_user_init_ = false;
    bool no_alias_ = false;
    bool dont_verify_ = false;
};

}  // namespace ferret
