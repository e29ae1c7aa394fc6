#include <stdio.h>

#include "platform/platform.h"
#include "runner/harness.h"
#include "runner/stderr_lines.h"

// Which file's code runs as the library, whatever the loader's search, a
// preloaded library or a link led to.
void nameLibrary()
{
    static char path[4096];
    const void* base = nullptr;
    if (platform::moduleFile(reinterpret_cast<const void*>(&OpenPortA), path, sizeof path, &base)) {
        fprintf(stderr, STDERR_LIBRARY_LINE, path, base);
    } else {
        fprintf(stderr, "%s", STDERR_LIBRARY_UNKNOWN);
    }
}
