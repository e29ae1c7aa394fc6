#include "tests/fakes/console.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace fake {

std::string runConsole(const std::string& input, const std::function<void()>& body)
{
    char inPath[] = "/tmp/devbench-in-XXXXXX";
    int inFd = mkstemp(inPath);
    if (write(inFd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) abort();
    close(inFd);
    if (freopen(inPath, "r", stdin) == nullptr) abort();
    unlink(inPath);

    FILE* out = tmpfile();
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(fileno(out), STDOUT_FILENO);
    body();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);

    std::string text;
    rewind(out);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, out)) > 0) text.append(chunk, n);
    fclose(out);
    return text;
}

} // namespace fake
