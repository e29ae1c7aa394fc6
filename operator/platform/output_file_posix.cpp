#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "operator/platform/host.h"
#include "operator/platform/output_file.h"

namespace vpop {

namespace {

std::string baseName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool namesFile(const std::string& path, int fd)
{
    struct stat named {
    }, held {};
    return stat(path.c_str(), &named) == 0 && fstat(fd, &held) == 0 && named.st_dev == held.st_dev
        && named.st_ino == held.st_ino;
}

// The temporary file beside `target` is ".NAME.XXXXXX", as mkstemp fills it.
std::string tempPrefix(const std::string& target) { return "." + baseName(target) + "."; }

// A new, empty file beside `target`, to be renamed onto it; -1 with errno.
// It is locked while it is this process's, so another start takes it for
// one a kill left only once nobody writes it. A file that start removed
// before it was locked is given up for another.
int openBeside(const std::string& target, std::string* temp)
{
    std::string pattern = joinPath(directoryOf(target), tempPrefix(target) + "XXXXXX");
    for (int attempt = 0;; ++attempt) {
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        // Where locks are not kept, nobody else can take the file either.
        if (flock(fd, LOCK_EX) != 0 || namesFile(name.data(), fd) || attempt == 10) {
            *temp = name.data();
            return fd;
        }
        close(fd);
    }
}

// Removes what an operator killed as it wrote this file left beside it:
// files of the temporary's pattern, this user's, that nobody holds locked.
void removeLeftTemps(const std::string& target)
{
    std::string folder = directoryOf(target);
    std::string prefix = tempPrefix(target);
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> left;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0
            && std::all_of(name.begin() + prefix.size(), name.end(), [](char c) { return isalnum(c & 0xff); }))
            left.push_back(joinPath(folder, name));
    }
    closedir(dir);
    for (const std::string& path : left) {
        int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info { };
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == getuid()
            && flock(fd, LOCK_EX | LOCK_NB) == 0 && namesFile(path, fd))
            unlink(path.c_str());
        close(fd);
    }
}

// What a new file would get from fopen, or what the file it replaces had.
mode_t modeFor(const std::string& target)
{
    struct stat info { };
    if (stat(target.c_str(), &info) == 0) return info.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool failed(const std::string& path, int error, std::string* why)
{
    *why = "cannot write " + path + ": " + strerror(error);
    return false;
}

// A link at the name that another user made (in /tmp, say) leads where they
// chose: written through, it would replace a file of theirs choosing with
// our rights. One of the user's own leads where the user meant.
bool foreignLink(const std::string& path, std::string* why)
{
    struct stat info { };
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode) || info.st_uid == getuid()) return false;
    std::string owner = "uid " + std::to_string(info.st_uid);
    if (const passwd* entry = getpwuid(info.st_uid)) owner = std::string(entry->pw_name) + " (" + owner + ")";
    *why = "cannot write " + path + ": it is a link that " + owner
        + " made, which is not followed; remove it or name another file";
    return true;
}

} // namespace

OutputFile::~OutputFile()
{
    if (stream_ != nullptr) fclose(stream_);
}

bool OutputFile::check(std::string* error)
{
    if (path_.empty()) return *error = "an empty path names no file to write", false;
    struct stat info { };
    bool exists = stat(path_.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) return failed(path_, EISDIR, error);
    // /dev/stdout leads to whatever standard output is, a file included,
    // which is to be written, not replaced.
    bool device = path_.rfind("/dev/", 0) == 0 || path_.rfind("/proc/", 0) == 0;
    if (!device && foreignLink(path_, error)) return false;
    if (exists && (!S_ISREG(info.st_mode) || device)) {
        // A FIFO nobody reads yet is refused rather than waited for.
        int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (S_ISREG(info.st_mode) ? O_APPEND : 0);
        int fd = open(path_.c_str(), flags);
        if (fd < 0 && errno == ENXIO)
            return *error = "cannot write " + path_ + ": it is a FIFO that nothing reads yet; start its reader first",
                   false;
        if (fd < 0) return failed(path_, errno, error);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        stream_ = fdopen(fd, "wb");
        if (stream_ == nullptr) close(fd);
        return stream_ != nullptr || failed(path_, errno, error);
    }
    target_ = exists ? absolutePath(path_) : path_;
    removeLeftTemps(target_);
    if (exists && access(target_.c_str(), W_OK) != 0) return failed(path_, errno, error);
    std::string temp;
    int fd = openBeside(target_, &temp);
    if (fd < 0) return failed(path_, errno, error);
    close(fd);
    unlink(temp.c_str());
    return true;
}

bool OutputFile::write(const std::string& text, std::string* error)
{
    if (stream_ != nullptr) {
        bool wrote = fwrite(text.data(), 1, text.size(), stream_) == text.size();
        int writeErrno = errno;
        bool closed = fclose(stream_) == 0;
        stream_ = nullptr;
        return (wrote && closed) || failed(path_, wrote ? errno : writeErrno, error);
    }
    // A link made at the name since the check is refused as well.
    if (foreignLink(target_, error)) return false;
    std::string temp;
    int fd = openBeside(target_, &temp);
    if (fd < 0) return failed(path_, errno, error);
    fchmod(fd, modeFor(target_));
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    int writeErrno = done < text.size() ? (errno != 0 ? errno : ENOSPC) : 0;
    if (writeErrno == 0 && fsync(fd) != 0) writeErrno = errno;
    // Renamed while still open, and so still locked: see openBeside.
    bool renamed = writeErrno == 0 && rename(temp.c_str(), target_.c_str()) == 0;
    if (writeErrno == 0 && !renamed) writeErrno = errno;
    if (close(fd) != 0 && writeErrno == 0) writeErrno = errno;
    if (writeErrno == 0) return true;
    if (!renamed) unlink(temp.c_str());
    return failed(path_, writeErrno, error);
}

std::string fileKey(const std::string& path)
{
    FileIdentity identity;
    auto key = [&identity] { return std::to_string(identity.device) + ":" + std::to_string(identity.index); };
    if (fileIdentity(path, &identity)) return key();
    if (fileIdentity(directoryOf(path), &identity)) return key() + "/" + baseName(path);
    return absolutePath(path);
}

} // namespace vpop
