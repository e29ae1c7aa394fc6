#include "operator/library_identity.h"

#include <stdio.h>

#include <algorithm>
#include <vector>

#include "operator/host.h"
#include "operator/sha256.h"

namespace vpop {

std::string libraryPath(const std::string& devbench, const std::string& workingDirectory)
{
    std::vector<std::string> directories;
    std::string search = librarySearchPath();
    size_t start = 0;
    while (!search.empty() && start <= search.size()) {
        size_t end = std::min(search.find(':', start), search.size());
        // The loader takes an empty or relative entry from devbench's
        // working directory, not the operator's.
        std::string entry = search.substr(start, end - start);
        directories.push_back(entry.empty() ? workingDirectory
                : entry[0] == '/'           ? entry
                                            : joinPath(workingDirectory, entry));
        start = end + 1;
    }
    directories.push_back(directoryOf(devbench));
    directories.push_back(workingDirectory);
    for (const std::string& directory : directories) {
        std::string path = joinPath(directory, libraryFileName);
        if (fileExists(path)) return absolutePath(path);
    }
    return joinPath(directoryOf(devbench), libraryFileName);
}

LibraryFile inspectLibrary(const std::string& path)
{
    LibraryFile library;
    library.path = path;
    FileDigest digest;
    std::string error;
    if (!digestFile(path, &digest, &error)) {
        fprintf(stderr, "vpoperator: the record will name no library hash: %s\n", error.c_str());
        return library;
    }
    library.read = true;
    library.size = digest.size;
    library.sha256 = digest.sha256;
    library.fileVersion = fileVersion(path);
    return library;
}

} // namespace vpop
