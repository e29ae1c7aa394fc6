#include "operator/platform/processes.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace vpop {

namespace {

void closeFd(int& fd)
{
    if (fd >= 0) close(fd);
    fd = -1;
}

int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void execChild(const std::string& path, char* const* argv, const ChildOptions& options, int stdinFd,
    int stdoutFd, int stderrFd, int errorPipe, pid_t parent)
{
    setpgid(0, 0);
#if defined(__linux__)
    // An operator killed outright must not leave a printer or a suite behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
#else
    (void)parent;
#endif
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    if (stdinFd >= 0) dup2(stdinFd, STDIN_FILENO);
    if (stdoutFd >= 0) dup2(stdoutFd, STDOUT_FILENO);
    if (stderrFd >= 0) dup2(stderrFd, STDERR_FILENO);
    int err = 0;
    if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) {
        err = errno;
    } else {
        execv(path.c_str(), argv);
        err = errno;
    }
    ssize_t ignored = write(errorPipe, &err, sizeof err);
    (void)ignored;
    _exit(127);
}

} // namespace

namespace {

// One line of /proc/PID/maps: "address perms offset major:minor inode path";
// only the path has a slash. False for a line that maps no file.
bool mapsLine(const std::string& text, LoadedModule* module)
{
    size_t slash = text.find('/');
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long long inode = 0;
    if (slash == std::string::npos || sscanf(text.c_str(), "%*s %*s %*s %x:%x %llu", &major, &minor, &inode) != 3)
        return false;
    module->path = text.substr(slash, text.find_last_not_of('\n') + 1 - slash);
    const std::string deleted = " (deleted)";
    if (module->path.size() > deleted.size()
        && module->path.compare(module->path.size() - deleted.size(), deleted.size(), deleted) == 0)
        module->path.resize(module->path.size() - deleted.size());
    module->identity.device = makedev(major, minor);
    module->identity.index = inode;
    return true;
}

} // namespace

std::optional<LoadedModule> loadedModule(const Child& child, const std::string& fileName)
{
    if (child.pid <= 0) return std::nullopt;
    FILE* maps = fopen(("/proc/" + std::to_string(child.pid) + "/maps").c_str(), "r");
    if (maps == nullptr) return std::nullopt;
    std::optional<LoadedModule> found;
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while (!found && (length = getline(&line, &capacity, maps)) > 0) {
        LoadedModule module;
        if (!mapsLine(std::string(line, static_cast<size_t>(length)), &module)) continue;
        const std::string& path = module.path;
        if (path.size() > fileName.size() && path.compare(path.size() - fileName.size(), fileName.size(), fileName) == 0
            && path[path.size() - fileName.size() - 1] == '/')
            found = module;
    }
    free(line);
    fclose(maps);
    return found;
}

std::optional<LoadedModule> moduleAt(const Child& child, uint64_t address)
{
    if (child.pid <= 0) return std::nullopt;
    FILE* maps = fopen(("/proc/" + std::to_string(child.pid) + "/maps").c_str(), "r");
    if (maps == nullptr) return std::nullopt;
    std::optional<LoadedModule> found;
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while (!found && (length = getline(&line, &capacity, maps)) > 0) {
        unsigned long long start = 0;
        unsigned long long end = 0;
        LoadedModule module;
        if (sscanf(line, "%llx-%llx", &start, &end) == 2 && start <= address && address < end
            && mapsLine(std::string(line, static_cast<size_t>(length)), &module))
            found = module;
    }
    free(line);
    fclose(maps);
    return found;
}

double monotonicSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool startChild(const std::string& path, const std::vector<std::string>& args, const ChildOptions& options,
    Child* child, std::string* error)
{
    int inPipe[2] = { -1, -1 };
    int outPipe[2] = { -1, -1 };
    int errPipe[2] = { -1, -1 };
    int errorPipe[2] = { -1, -1 };
    int nullFd = -1;
    auto fail = [&](const std::string& what) {
        for (int* fd : { &inPipe[0], &inPipe[1], &outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1], &errorPipe[0],
                 &errorPipe[1], &nullFd })
            closeFd(*fd);
        *error = what;
        return false;
    };
    // Close-on-exec everywhere: a child must not hold another child's pipe
    // open, or that pipe never reports its end.
    if (options.pipeInput && pipe2(inPipe, O_CLOEXEC) != 0) return fail(std::string("pipe: ") + strerror(errno));
    if (options.pipeOutput && pipe2(outPipe, O_CLOEXEC) != 0) return fail(std::string("pipe: ") + strerror(errno));
    if (options.pipeError && pipe2(errPipe, O_CLOEXEC) != 0) return fail(std::string("pipe: ") + strerror(errno));
    if (options.quietOutput && (nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC)) < 0)
        return fail(std::string("/dev/null: ") + strerror(errno));
    if (pipe2(errorPipe, O_CLOEXEC) != 0) return fail(std::string("pipe: ") + strerror(errno));

    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) return fail(std::string("fork: ") + strerror(errno));
    if (pid == 0) {
        execChild(path, argv.data(), options, inPipe[0], options.quietOutput ? nullFd : outPipe[1], errPipe[1],
            errorPipe[1], parent);
    }
    setpgid(pid, pid);
    closeFd(inPipe[0]);
    closeFd(outPipe[1]);
    closeFd(errPipe[1]);
    closeFd(errorPipe[1]);
    closeFd(nullFd);

    int childErrno = 0;
    ssize_t got;
    do {
        got = read(errorPipe[0], &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);
    closeFd(errorPipe[0]);
    if (got > 0) {
        int raw = 0;
        waitpid(pid, &raw, 0);
        closeFd(inPipe[1]);
        closeFd(outPipe[0]);
        closeFd(errPipe[0]);
        *error = "cannot start " + path + ": " + strerror(childErrno);
        return false;
    }
    child->pid = pid;
    child->input = inPipe[1];
    child->output = outPipe[0];
    child->error = errPipe[0];
    return true;
}

bool waitChild(Child& child, double seconds, int* status)
{
    if (child.pid < 0) return false;
    double deadline = monotonicSeconds() + seconds;
    for (;;) {
        int raw = 0;
        pid_t done = waitpid(child.pid, &raw, WNOHANG);
        if (done == child.pid) {
            child.pid = -1;
            if (status) *status = statusOf(raw);
            return true;
        }
        if (done < 0 && errno != EINTR) {
            child.pid = -1;
            return false;
        }
        if (monotonicSeconds() >= deadline) return false;
        // Reaping has no event to wait on without taking over SIGCHLD.
        timespec pause { 0, 5 * 1000 * 1000 };
        nanosleep(&pause, nullptr);
    }
}

void stopChild(Child& child, double graceSeconds)
{
    closeFd(child.input);
    if (child.pid > 0) {
        kill(-child.pid, SIGTERM);
        if (!waitChild(child, graceSeconds, nullptr) && child.pid > 0) {
            kill(-child.pid, SIGKILL);
            waitChild(child, 5, nullptr);
        }
    }
    closeFd(child.output);
    closeFd(child.error);
}

void killChild(Child& child)
{
    if (child.pid > 0) kill(-child.pid, SIGKILL);
}

namespace {

size_t readFd(int fd, char* buffer, size_t size)
{
    for (;;) {
        ssize_t n = read(fd, buffer, size);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) return 0;
    }
}

} // namespace

size_t readOutput(Child& child, char* buffer, size_t size) { return readFd(child.output, buffer, size); }

size_t readError(Child& child, char* buffer, size_t size) { return readFd(child.error, buffer, size); }

bool writeInput(Child& child, const std::string& text) { return writeAll(child.input, text); }

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace vpop
