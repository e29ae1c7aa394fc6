// SHA-256 of a file, for the run record: a library build is named by its
// hash; and of bytes, for what a test sent to the printer. Small and
// self-contained so the Windows build needs no crypto library of its own.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace vpop {

struct FileDigest {
    uint64_t size = 0;
    // 64 lower-case hexadecimal digits.
    std::string sha256;
};

// False, with `error` set, when the file cannot be read to its end.
bool digestFile(const std::string& path, FileDigest* digest, std::string* error);

// 64 lower-case hexadecimal digits.
std::string sha256Hex(const unsigned char* bytes, size_t size);

} // namespace vpop
