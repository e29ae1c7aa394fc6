#include "operator/record/library_identity.h"

#include <stdio.h>

#include "operator/platform/host.h"
#include "operator/record/file_digest.h"

namespace vpop {

namespace {

void markReplaced(LibraryFile& library, std::string note)
{
    library.replacedDuringRun = true;
    library.replacedNote = std::move(note);
    fprintf(stderr, "vpoperator: %s\n", library.replacedNote.c_str());
}

} // namespace

LibraryFile inspectLibrary(const std::string& path, const FileIdentity* used, FileIdentity* identity)
{
    LibraryFile library;
    library.path = path;
    FileDigest digest;
    FileIdentity read;
    std::string error;
    if (!digestFile(path, &digest, &error, &read)) {
        fprintf(stderr, "vpoperator: the record will name no library hash: %s\n", error.c_str());
        return library;
    }
    // By the file's number alone: an overlay file system (a container's)
    // names the mapped file by the layer's device, the path by its own.
    if (used != nullptr && used->index != read.index) {
        markReplaced(library,
            "the file at " + path + " is no longer the one devbench loaded, and was not hashed: it was replaced");
        return library;
    }
    if (identity != nullptr) *identity = read;
    library.read = true;
    library.size = digest.size;
    library.sha256 = digest.sha256;
    library.fileVersion = fileVersion(path);
    return library;
}

void recheckLibrary(LibraryFile& library, const FileIdentity& identity)
{
    FileIdentity now;
    if (fileIdentity(library.path, &now) && now == identity) return;
    markReplaced(library,
        "the file at " + library.path + " was replaced or changed during the run; the hash is of the one used");
}

#if defined(_WIN32)

// devbench starts holdprobe.exe from its working directory only, and
// Windows loads a program's DLL from the program's own folder first.
std::optional<LibraryFile> probeLibrary(const std::string& workingDirectory, FileIdentity* identity)
{
    std::string probe = joinPath(workingDirectory, "holdprobe.exe");
    if (fileExists(probe)) return inspectLibrary(joinPath(workingDirectory, libraryFileName), nullptr, identity);
    fprintf(stderr, "vpoperator: the record will name no probe library: there is no %s\n", probe.c_str());
    return std::nullopt;
}

std::string callingConvention(const std::string& workingDirectory)
{
    std::string path = joinPath(workingDirectory, callingConventionFile);
    char word[16] = "";
    if (FILE* file = openFile(path, "rb")) {
        if (fscanf(file, "%15s", word) != 1) word[0] = '\0';
        fclose(file);
    }
    std::string convention = word;
    if (convention == "cdecl" || convention == "stdcall") return convention;
    fprintf(stderr, "vpoperator: the record will name no calling convention: %s does not say cdecl or stdcall\n",
        path.c_str());
    return "";
}

#else

std::optional<LibraryFile> probeLibrary(const std::string&, FileIdentity*) { return std::nullopt; }

std::string callingConvention(const std::string&) { return ""; }

#endif

} // namespace vpop
