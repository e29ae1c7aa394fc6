#include "operator/platform/host.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/vfs.h>
#endif
#include <time.h>
#include <unistd.h>

#include <thread>

namespace vpop {

const char devbenchProgram[] = "devbench";
const char devbenchExtendedProgram[] = "devbench-extended";
const char libraryFileName[] = "libKelmorPort.so";

namespace {

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    int saved = errno;
    char byte = 1;
    ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

} // namespace

std::vector<std::string> commandLineArguments(int argc, char** argv) { return { argv, argv + argc }; }

FILE* openFile(const std::string& path, const char* mode) { return fopen(path.c_str(), mode); }

void openStandardStreams()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // open takes the lowest free descriptor: this one.
        int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) close(opened);
    }
}

std::string programDirectory(const char* argv0)
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string(argv0);
    return directoryOf(self);
}

std::string absolutePath(const std::string& path)
{
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
}

std::string joinPath(const std::string& directory, const std::string& name) { return directory + "/" + name; }

std::string directoryOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool fileExists(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void printText(const std::string& text) { fputs(text.c_str(), stdout); }

std::vector<std::string> matchingFiles(const std::string& argument) { return { argument }; }

std::string fileVersion(const std::string&) { return ""; }

namespace {

FileIdentity identityOf(const struct stat& status)
{
    FileIdentity identity;
    identity.device = status.st_dev;
    identity.index = status.st_ino;
    identity.size = static_cast<uint64_t>(status.st_size);
    identity.written = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return identity;
}

} // namespace

bool fileIdentity(FILE* file, FileIdentity* identity)
{
    struct stat status { };
    if (fstat(fileno(file), &status) != 0) return false;
    *identity = identityOf(status);
    return true;
}

bool onOverlayFileSystem(const std::string& path)
{
#if defined(__linux__)
    const long OVERLAYFS_MAGIC = 0x794c7630;
    struct statfs system { };
    return statfs(path.c_str(), &system) == 0 && static_cast<long>(system.f_type) == OVERLAYFS_MAGIC;
#else
    (void)path;
    return false;
#endif
}

bool fileIdentity(const std::string& path, FileIdentity* identity)
{
    struct stat status { };
    if (stat(path.c_str(), &status) != 0) return false;
    *identity = identityOf(status);
    return true;
}

std::string userDataDirectory()
{
    const char* data = getenv("XDG_DATA_HOME");
    // The XDG rule: a relative value is to be ignored.
    if (data != nullptr && data[0] == '/') return data;
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') return "";
    return std::string(home) + "/.local/share";
}

bool makeDirectories(const std::string& path, std::string* error)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            *error = "cannot make the folder " + part + ": " + strerror(errno);
            return false;
        }
        if (slash == std::string::npos) return true;
    }
}

std::string hostName()
{
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

std::string utcTimestamp()
{
    time_t now = time(nullptr);
    struct tm utc { };
    gmtime_r(&now, &utc);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

time_t utcSeconds(std::tm* fields) { return timegm(fields); }

FILE* openRegularFile(const std::string& path, size_t limit, std::string* error)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return *error = "cannot read " + path + ": " + strerror(errno), nullptr;
    struct stat status { };
    bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    FILE* file = regular && static_cast<uint64_t>(status.st_size) <= limit ? fdopen(fd, "rb") : nullptr;
    if (file != nullptr) return file;
    close(fd);
    if (!regular) *error = path + ": it is not a file (a folder, a FIFO or a device); name a run's record";
    if (regular) *error = path + ": it is over " + std::to_string(limit >> 20) + " MiB, too large to be a run record";
    return nullptr;
}

// A signal only wakes the run, which then stops what it started itself.
bool installInterrupts()
{
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("vpoperator: pipe");
        return false;
    }
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

int interruptFd() { return signalPipe[0]; }

void onInterrupt(std::function<void()> callback)
{
    int fd = signalPipe[0];
    if (fd < 0) return;
    // Left blocked in poll when no interrupt ever comes; the process ends
    // around it.
    std::thread([fd, callback = std::move(callback)] {
        pollfd watched { fd, POLLIN, 0 };
        while (poll(&watched, 1, -1) < 0 && errno == EINTR) { }
        callback();
    }).detach();
}

size_t readKeys(char* buffer, size_t size)
{
    for (;;) {
        ssize_t n = read(STDIN_FILENO, buffer, size);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) return 0;
    }
}

bool keysFromTerminal() { return isatty(STDIN_FILENO) != 0; }

// The keys are read through the event loop's poll, never left pending.
void stopReadingKeys() { }

} // namespace vpop
