#pragma once

#include <string>

namespace ferret {

// The folders the Quick Links lead to: the user's documents, desktop and pictures are the XDG
// user folders; the programs are /usr/bin.
enum class UserFolder { kDocuments, kDesktop, kPictures, kPrograms };

// The folder's path without a trailing "/"; empty when it does not exist (none is made up).
std::string UserFolderPath(UserFolder folder);

}  // namespace ferret
