#include "platform/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

#include "platform/commit_writer.h"
#include "platform/system_error.h"

namespace orvik::platform {
namespace fs = std::filesystem;

namespace {

std::string octal(unsigned mode) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", mode & 07777u);
    return buf;
}

// Six characters from [A-Za-z0-9], as mkstemp uses.
std::string randomSuffix() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mutex m;
    static std::mt19937_64 engine{std::random_device{}()};
    std::lock_guard lock(m);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string s(6, 'x');
    for (char& c : s)
        c = kChars[pick(engine)];
    return s;
}

// The process's own folder when there is no session folder; made once per $TMPDIR.
struct ProcessFolder {
    std::mutex m;
    std::string tmpdir;
    fs::path path;
};

ProcessFolder& processFolder() {
    static ProcessFolder folder;
    return folder;
}

void removeProcessFolderAtExit() {
    ProcessFolder& f = processFolder();
    std::lock_guard lock(f.m);
    // rmdir only: a file someone must still find (a kept settings copy) keeps the folder.
    if (!f.path.empty())
        ::rmdir(f.path.c_str());
}

}  // namespace

Result<void> checkOwnFolder(const fs::path& folder) {
    // O_NOFOLLOW|O_DIRECTORY: a link planted at the name is refused, not followed.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ELOOP || err == ENOTDIR)
            return makeError(folder.string() + " is not a folder of its own (a link or a file)",
                             err);
        return makeError("cannot open " + folder.string() + ": " + systemErrorText(err), err);
    }
    struct stat st {};
    const int statResult = ::fstat(fd, &st);
    const int statErr = errno;
    ::close(fd);
    if (statResult != 0)
        return makeError("cannot examine " + folder.string() + ": " + systemErrorText(statErr),
                         statErr);
    if (st.st_uid != ::geteuid())
        return makeError(
            folder.string() + " belongs to another user (uid " + std::to_string(st.st_uid) + ")",
            EPERM);
    if ((st.st_mode & 077) != 0)
        return makeError(
            folder.string() + " is open to other users (mode " + octal(st.st_mode) + ")", EPERM);
    return {};
}

Result<void> ensureOwnFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return makeError("cannot create " + folder.string() + ": " + systemErrorText(errno), errno);
    return checkOwnFolder(folder);
}

Result<fs::path> sessionRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime)
        return makeError("XDG_RUNTIME_DIR is not set", ENOENT);
    // The session folder must itself be private, or a file in it would not be.
    fs::path base(runtime);
    if (auto ok = checkOwnFolder(base); !ok)
        return makeError(ok.error(), ok.errorNumber());
    fs::path folder = base / "orvik";
    if (auto ok = ensureOwnFolder(folder); !ok)
        return makeError(ok.error(), ok.errorNumber());
    return folder;
}

Result<fs::path> privateRuntimeFolder() {
    auto session = sessionRuntimeFolder();
    if (session)
        return session;

    ProcessFolder& f = processFolder();
    std::lock_guard lock(f.m);
    const char* env = std::getenv("TMPDIR");
    const std::string tmpdir = env && *env ? env : "/tmp";
    if (!f.path.empty() && f.tmpdir == tmpdir) {
        // Still ours? Someone may have removed it meanwhile.
        if (checkOwnFolder(f.path))
            return f.path;
    }
    std::string tmpl = (fs::path(tmpdir) / "orvik-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        return makeError(
            "cannot create a private folder in " + tmpdir + ": " + systemErrorText(errno), errno);
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(removeProcessFolderAtExit); });
    if (!f.path.empty())
        ::rmdir(f.path.c_str());
    f.tmpdir = tmpdir;
    f.path = tmpl;
    return f.path;
}

Result<PrivateFile> createPrivateFile(std::string_view stem, std::string_view suffix) {
    auto folder = privateRuntimeFolder();
    if (!folder)
        return makeError(folder.error(), folder.errorNumber());
    // A clash with a name already there is only retried, never opened.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name(stem);
        name.append(randomSuffix()).append(suffix);
        fs::path path = *folder / name;
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            return PrivateFile{fd, path};
        if (errno != EEXIST)
            return makeError("cannot create " + path.string() + ": " + systemErrorText(errno),
                             errno);
    }
    return makeError("cannot create a new file in " + folder->string(), EEXIST);
}

Result<fs::path> writePrivateFile(std::string_view name, std::string_view bytes) {
    auto folder = privateRuntimeFolder();
    if (!folder)
        return makeError(folder.error(), folder.errorNumber());
    const fs::path target = *folder / std::string(name);
    // Nothing here outlives the session: no flush is waited for.
    auto writer =
        CommitWriter::create(target.string(), {IfExists::Replace, Durability::WhereLossCounts});
    if (!writer)
        return makeError(writer.error(), writer.errorNumber());
    writer->write(bytes);
    if (auto committed = writer->commit(); !committed)
        return makeError(committed.error(), committed.errorNumber());
    return target;
}

Result<fs::path> createPrivateSubfolder(std::string_view stem) {
    auto folder = privateRuntimeFolder();
    if (!folder)
        return makeError(folder.error(), folder.errorNumber());
    std::string tmpl = (*folder / (std::string(stem) + "XXXXXX")).string();
    if (!::mkdtemp(tmpl.data()))
        return makeError(
            "cannot create a folder in " + folder->string() + ": " + systemErrorText(errno), errno);
    return fs::path(tmpl);
}

}  // namespace orvik::platform
