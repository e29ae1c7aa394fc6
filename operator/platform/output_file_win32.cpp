#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "operator/platform/host.h"
#include "operator/platform/output_file.h"

namespace vpop {

namespace {

std::string tempBeside(const std::string& path)
{
    return path + ".vpoperator-" + std::to_string(GetCurrentProcessId()) + ".tmp";
}

bool failed(const std::string& path, const std::string& why, std::string* error)
{
    *error = "cannot write " + path + ": " + why;
    return false;
}

bool writeWhole(const std::string& path, const std::string& text)
{
    FILE* file = openFile(path, "wb");
    if (file == nullptr) return false;
    bool wrote = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && wrote;
}

} // namespace

OutputFile::~OutputFile()
{
    if (stream_ != nullptr) fclose(stream_);
}

bool OutputFile::check(std::string* error)
{
    if (path_.empty()) return *error = "an empty path names no file to write", false;
    target_ = path_;
    DWORD attributes = GetFileAttributesW(wideText(path_).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return failed(path_, "it is a folder", error);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return failed(path_, "it is read-only", error);
    std::string temp = tempBeside(path_);
    FILE* file = openFile(temp, "wb");
    if (file == nullptr) return failed(path_, strerror(errno), error);
    fclose(file);
    DeleteFileW(wideText(temp).c_str());
    return true;
}

bool OutputFile::write(const std::string& text, std::string* error)
{
    std::string temp = tempBeside(target_);
    if (!writeWhole(temp, text)) {
        DeleteFileW(wideText(temp).c_str());
        return failed(path_, strerror(errno), error);
    }
    if (MoveFileExW(
            wideText(temp).c_str(), wideText(target_).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(wideText(temp).c_str());
    return failed(path_, "error " + std::to_string(GetLastError()) + " replacing it", error);
}

std::string fileKey(const std::string& path)
{
    FileIdentity identity;
    if (fileIdentity(path, &identity)) return std::to_string(identity.device) + ":" + std::to_string(identity.index);
    // Names on Windows are compared without case.
    std::wstring wide = wideText(absolutePath(path));
    CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    std::string key;
    for (wchar_t c : wide) key += std::to_string(static_cast<unsigned>(c)) + ",";
    return key;
}

} // namespace vpop
