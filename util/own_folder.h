#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>

#include "util/file_handle.h"
#include "util/status.h"

namespace ferret {

// Opens `path` (a full path) as a folder of the user's own, the way ssh trusts ~/.ssh: the path
// is taken a step at a time, following only links owned by the user or by root, and the folder
// at its end must be owned by the user and writable by nobody else. With `create`, missing
// folders are made (private to the user). `folder` receives the folder open for reading, so that
// what is done in it can be done relative to it however the path changes meanwhile.
//
// A folder that fails gets a status naming the reason; one that does not exist fails with ENOENT.
Status OpenOwnFolder(const std::string& path, bool create, Fd& folder);

// The rule the kernel's protected_symlinks applies in shared sticky folders, for every place a
// run writes: a link is followed only when it is ours or belongs to the owner of its target.
inline bool MayFollowLink(uid_t link_owner, uid_t target_owner) {
    return link_owner == geteuid() || link_owner == target_owner;
}

// Opens the folder at the full path `path` a step at a time without following any link (for
// a path that held no link when it was recorded). `folder` receives it as an O_PATH descriptor;
// fails with ELOOP when a step is a link now.
Status OpenFolderNoLinks(const std::string& path, Fd& folder);

}  // namespace ferret
