#include "operator/record/file_digest.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "operator/platform/host.h"
#include "wire/sha256.h"

namespace vpop {

bool digestFile(const std::string& path, FileDigest* digest, std::string* error, FileIdentity* identity)
{
    // Opened through the host, which takes any path on Windows.
    FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    if (identity != nullptr && !fileIdentity(file, identity)) {
        fclose(file);
        *error = path + ": cannot tell which file it is";
        return false;
    }
    wire::Sha256 hash;
    std::vector<uint8_t> buffer(1 << 16);
    uint64_t size = 0;
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        hash.update(buffer.data(), got);
        size += got;
    }
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) {
        *error = path + ": read error";
        return false;
    }
    digest->size = size;
    digest->sha256 = hash.hex();
    return true;
}

} // namespace vpop
