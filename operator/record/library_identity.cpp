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

// The file a process mapped is the file read: the same device and inode, or
// on an overlay file system (a container's), which names the mapped file by
// its layer's device and the path by its own, the same inode.
bool sameMappedFile(const FileIdentity& used, const FileIdentity& read, const std::string& path)
{
    return used.sameFile(read) || (used.index == read.index && onOverlayFileSystem(path));
}

enum class Reading { read, unreadable, otherFile };

Reading readLibrary(LibraryFile& library, const FileIdentity* used, FileIdentity* identity, std::string* error)
{
    FileDigest digest;
    FileIdentity read;
    if (!digestFile(library.path, &digest, error, &read)) return Reading::unreadable;
    if (used != nullptr && !sameMappedFile(*used, read, library.path)) return Reading::otherFile;
    if (identity != nullptr) *identity = read;
    library.read = true;
    library.size = digest.size;
    library.sha256 = digest.sha256;
    library.fileVersion = fileVersion(library.path);
    return Reading::read;
}

} // namespace

LibraryFile inspectLibrary(const std::string& path, const FileIdentity* used, FileIdentity* identity)
{
    LibraryFile library;
    library.path = path;
    std::string error;
    Reading reading = readLibrary(library, used, identity, &error);
    if (reading == Reading::unreadable)
        fprintf(stderr, "vpoperator: the record will name no library hash: %s\n", error.c_str());
    if (reading == Reading::otherFile)
        markReplaced(library,
            "the file at " + path + " is no longer the one devbench loaded, and was not hashed: it was replaced");
    return library;
}

LibraryFile identifyLibrary(
    const std::string& named, const std::string& mapped, const FileIdentity& used, FileIdentity* identity)
{
    std::string error;
    // The kernel's name of the mapping is the file itself, where devbench's
    // may be a link to it.
    for (const std::string& path : { mapped, named }) {
        LibraryFile library;
        library.path = path;
        if (readLibrary(library, &used, identity, &error) == Reading::read) return library;
    }
    std::string paths = mapped == named
        ? named + " (which devbench named and its process maps) no longer leads"
        : "neither " + named + " (which devbench named) nor " + mapped + " (as its process maps it) leads";
    return unidentifiedLibrary(named,
        paths + " to the file whose code ran (device " + std::to_string(used.device) + ", inode "
            + std::to_string(used.index) + "): a file put in its place or mounted over it hides that file");
}

LibraryFile unidentifiedLibrary(const std::string& named, const std::string& why)
{
    LibraryFile library;
    library.path = named;
    library.identityNote = "the record cannot tell which file's code ran: " + why;
    fprintf(stderr, "vpoperator: %s\n", library.identityNote.c_str());
    return library;
}

void recheckLibrary(LibraryFile& library, const FileIdentity& identity)
{
    FileIdentity now;
    if (fileIdentity(library.path, &now) && now == identity) return;
    markReplaced(library,
        "the file at " + library.path + " was replaced or changed during the run; the hash is of the one used");
}

// 64 or 32 for a Windows program or DLL of that width, 0 for another
// processor, -1 when the file is missing or no Windows executable at all.
static int peWidth(const std::string& path, bool* present)
{
    FILE* file = openFile(path, "rb");
    *present = file != nullptr;
    if (file == nullptr) return -1;
    unsigned char header[4096] = {};
    size_t got = fread(header, 1, sizeof header, file);
    fclose(file);
    auto word = [&](size_t at) { return at + 2 <= got ? unsigned(header[at] | header[at + 1] << 8) : 0u; };
    size_t pe = word(0x3C) | size_t(word(0x3E)) << 16;
    if (got < 0x40 || header[0] != 'M' || header[1] != 'Z' || pe + 6 > got || header[pe] != 'P'
        || header[pe + 1] != 'E')
        return -1;
    unsigned machine = word(pe + 4);
    const unsigned I386 = 0x14C;
    const unsigned AMD64 = 0x8664;
    return machine == AMD64 ? 64 : machine == I386 ? 32 : 0;
}

std::string dllWidthProblem(const std::string& path, unsigned bits)
{
    bool present = false;
    int has = peWidth(path, &present);
    if (!present) return "";
    if (has < 0) return path + " is no Windows DLL";
    if (unsigned(has) == bits) return "";
    return path + " is " + (has == 0 ? "a DLL for another processor" : "a " + std::to_string(has) + "-bit DLL")
        + ", where the " + std::to_string(bits) + "-bit one belongs: put the vendor's " + std::to_string(bits)
        + "-bit KelmorPort.dll there" + (has == 0 ? "" : " and this one in the " + std::to_string(has) + "-bit folder");
}

std::string loadedDllProblem(const std::string& program, const std::string& dll)
{
    bool present = false;
    int bits = peWidth(program, &present);
    if (bits != 32 && bits != 64) return "";
    return dllWidthProblem(dll, unsigned(bits));
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
