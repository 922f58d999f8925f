#pragma once
// The user's own folder for temporary files (the map page, export previews, the settings copy of a
// card format, the instance lock). A fixed name in a shared folder such as /tmp lets another local
// user plant a link there that we would write through, or take the name first; so every temporary
// file lives in a folder only this user can enter, and is created without following links.
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace orvik::platform {

// "$XDG_RUNTIME_DIR/orvik": created 0700 when missing; refused when it is a link, not a folder,
// owned by another user or open to others. Shared by every process of this user's session.
Result<std::filesystem::path> sessionRuntimeFolder();

// The session folder when there is one, else a folder of this process made by mkdtemp under
// $TMPDIR (or /tmp), removed at exit when it is empty. Errors say which folder failed and why.
Result<std::filesystem::path> privateRuntimeFolder();

// A new file in the private folder named `stem` + six random characters + `suffix`, created with
// O_EXCL|O_NOFOLLOW and mode 0600. The caller owns the descriptor.
struct PrivateFile {
    int fd = -1;
    std::filesystem::path path;
};
Result<PrivateFile> createPrivateFile(std::string_view stem, std::string_view suffix);

// Writes `bytes` as the whole file `name` in the private folder through the one commit writer
// (a new file created without following links, renamed over `name`: a link there is replaced,
// never written through).
Result<std::filesystem::path> writePrivateFile(std::string_view name, std::string_view bytes);

// A new folder (mode 0700) in the private folder named `stem` + six random characters, for files
// that must keep their own names.
Result<std::filesystem::path> createPrivateSubfolder(std::string_view stem);

// Checks that `folder` is a real folder (not a link) owned by this user and closed to others.
Result<void> checkOwnFolder(const std::filesystem::path& folder);
// The same, creating it with mode 0700 when it is missing.
Result<void> ensureOwnFolder(const std::filesystem::path& folder);

}  // namespace orvik::platform
