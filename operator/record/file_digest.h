// The size and SHA-256 of a file, for the run record: a library build is
// named by its digest.
#pragma once

#include <stdint.h>

#include <string>

#include "operator/platform/host.h"

namespace vpop {

struct FileDigest {
    uint64_t size = 0;
    // 64 lower-case hexadecimal digits.
    std::string sha256;
};

// False, with `error` set, when the file cannot be read to its end. With
// `identity`, the identity of the file opened, so that the digest can be
// told apart from one of a file put in its place.
bool digestFile(const std::string& path, FileDigest* digest, std::string* error, FileIdentity* identity = nullptr);

} // namespace vpop
