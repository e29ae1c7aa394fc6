#include "tests/fakes/console.h"

#include <stdio.h>
#include <stdlib.h>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fake {

static std::string lastStderr;

std::string capturedStderr() { return lastStderr; }

static std::string readAndClose(FILE* out)
{
    std::string text;
    rewind(out);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, out)) > 0) text.append(chunk, n);
    fclose(out);
    return text;
}

#if defined(_WIN32)
// No /tmp here, and an open file cannot be unlinked: the input goes through a
// temporary file that vanishes once closed, and both streams stay binary so
// no newline is translated on the way.
std::string runConsole(const std::string& input, const std::function<void()>& body)
{
    FILE* in = tmpfile();
    if (in == nullptr || fwrite(input.data(), 1, input.size(), in) != input.size() || fflush(in) != 0) abort();
    rewind(in);
    if (_dup2(_fileno(in), 0) != 0) abort();
    fclose(in);
    _setmode(0, _O_BINARY);
    // Drops what stdin had buffered and its end-of-file mark.
    if (fseek(stdin, 0, SEEK_SET) != 0) abort();

    FILE* out = tmpfile();
    FILE* err = tmpfile();
    if (out == nullptr || err == nullptr) abort();
    fflush(stdout);
    fflush(stderr);
    int saved = _dup(1);
    int savedErr = _dup(2);
    _dup2(_fileno(out), 1);
    _dup2(_fileno(err), 2);
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
    body();
    fflush(stdout);
    fflush(stderr);
    _dup2(saved, 1);
    _dup2(savedErr, 2);
    _close(saved);
    _close(savedErr);

    std::string text = readAndClose(out);
    lastStderr = readAndClose(err);
    expectFailureLinesNameChecks(text);
    expectAnswerAfterEachFailure(text, lastStderr);
    return text;
}
#else
std::string runConsole(const std::string& input, const std::function<void()>& body)
{
    char inPath[] = "/tmp/devbench-in-XXXXXX";
    int inFd = mkstemp(inPath);
    if (write(inFd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) abort();
    close(inFd);
    if (freopen(inPath, "r", stdin) == nullptr) abort();
    unlink(inPath);

    FILE* out = tmpfile();
    FILE* err = tmpfile();
    fflush(stdout);
    fflush(stderr);
    int saved = dup(STDOUT_FILENO);
    int savedErr = dup(STDERR_FILENO);
    dup2(fileno(out), STDOUT_FILENO);
    dup2(fileno(err), STDERR_FILENO);
    body();
    fflush(stdout);
    fflush(stderr);
    dup2(saved, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(saved);
    close(savedErr);

    std::string text = readAndClose(out);
    lastStderr = readAndClose(err);
    expectFailureLinesNameChecks(text);
    expectAnswerAfterEachFailure(text, lastStderr);
    return text;
}
#endif

std::string capturedSoFar()
{
    fflush(stdout);
#if defined(_WIN32)
    // No pread here: read from the start, then put the write position back.
    long end = _lseek(1, 0, SEEK_CUR);
    std::string text(end > 0 ? static_cast<size_t>(end) : 0, '\0');
    if (!text.empty()) {
        if (_lseek(1, 0, SEEK_SET) != 0 || _read(1, &text[0], static_cast<unsigned>(text.size())) != end) text.clear();
        _lseek(1, end, SEEK_SET);
    }
#else
    off_t end = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    std::string text(end > 0 ? static_cast<size_t>(end) : 0, '\0');
    if (!text.empty() && pread(STDOUT_FILENO, &text[0], text.size(), 0) != static_cast<ssize_t>(text.size())) {
        text.clear();
    }
#endif
    return text;
}

} // namespace fake
