#pragma once

#include <sys/stat.h>
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

// Where an output goes, as OpenOutputPlace finds it.
struct OutputPlace {
    Fd folder;         // the folder that holds it, as an O_PATH descriptor
    std::string name;  // its name in `folder`: one name, never "." or ".."
    // Whether a link of another user led here (one the link rule allowed, to a place of its
    // owner's): that user chose the place, as if it were a folder they may write.
    bool chosen_by_other = false;
};

// Finds where a write to `path` (a full path, or one relative to the current folder) lands, so
// that no other user can lead it elsewhere: the folders on the way are opened a step at a time
// from "/" or the current folder, each relative to the one before and never following a link in
// the kernel; a link on the way is followed only under MayFollowLink (or when root owns it: the
// system's own), checked against the folder it leads to. With `follow_last`, a link at the end is
// followed the same way, checked against the file it leads to (which must be ours when it does
// not exist yet); without, it is the name. What is then done relative to `place.folder` cannot
// be moved elsewhere by a change of the path meanwhile.
//
// Fails with the reason as description (strerror's text, or which link belongs to another user):
// ENOENT or ENOTDIR for a folder on the way, EISDIR when the path ends in "/", "." or "..",
// EPERM for a link that may not be followed, ELOOP past 40 links.
Status OpenOutputPlace(const std::string& path, bool follow_last, OutputPlace& place);

// Whether the existing `file` (as fstatat without following gives it) at `place` is another
// user's to read: it is neither ours nor root's, and lies in a folder that others than its owner
// may write (group or other write bits, as a sticky /tmp) or where another user's link led. An
// output is never written into such a file nor given its owner and mode.
bool IsOthersOutput(const OutputPlace& place, const struct stat& file);

}  // namespace ferret
