#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <aclapi.h>

#include <algorithm>

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

// The SIDs that own what the user makes: the user's own, and the token's
// default owner (Administrators for an elevated administrator).
bool ownedByUser(PSID owner)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    bool mine = false;
    for (TOKEN_INFORMATION_CLASS kind : { TokenUser, TokenOwner }) {
        alignas(TOKEN_USER) unsigned char buffer[256];
        DWORD size = 0;
        if (!GetTokenInformation(token, kind, buffer, sizeof buffer, &size)) continue;
        // TOKEN_USER and TOKEN_OWNER both start with the SID's pointer.
        PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid
                                     : reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner;
        mine = mine || EqualSid(owner, sid);
    }
    CloseHandle(token);
    return mine;
}

// A link (a symbolic link or junction) at the name that another user made
// leads where they chose: refused, as written through it would replace a
// file of their choosing with our rights.
bool foreignLink(const std::string& path, std::string* error)
{
    DWORD attributes = GetFileAttributesW(wideText(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    HANDLE link
        = CreateFileW(wideText(path).c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool mine = link != INVALID_HANDLE_VALUE
        && GetSecurityInfo(
               link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor)
            == ERROR_SUCCESS
        && ownedByUser(owner);
    if (descriptor != nullptr) LocalFree(descriptor);
    if (link != INVALID_HANDLE_VALUE) CloseHandle(link);
    if (mine) return false;
    failed(path, "it is a link that another user made, which is not followed; remove it or name another file", error);
    return true;
}

// A new file only: whatever is at the temporary name (a link another user
// put there) makes it fail rather than be written through.
bool writeWhole(const std::string& path, const std::string& text)
{
    HANDLE file
        = CreateFileW(wideText(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    size_t done = 0;
    DWORD wrote = 0;
    while (done < text.size()
        && WriteFile(file, text.data() + done, static_cast<DWORD>(std::min<size_t>(text.size() - done, 1 << 20)),
            &wrote, nullptr)
        && wrote > 0)
        done += wrote;
    bool flushed = FlushFileBuffers(file);
    return CloseHandle(file) && flushed && done == text.size();
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
    if (foreignLink(path_, error)) return false;
    std::string temp = tempBeside(path_);
    if (!writeWhole(temp, ""))
        return failed(path_, "error " + std::to_string(GetLastError()) + " writing beside it", error);
    DeleteFileW(wideText(temp).c_str());
    return true;
}

bool OutputFile::write(const std::string& text, std::string* error)
{
    // A link made at the name since the check is refused as well.
    if (foreignLink(target_, error)) return false;
    std::string temp = tempBeside(target_);
    if (!writeWhole(temp, text)) {
        DWORD why = GetLastError();
        if (why != ERROR_FILE_EXISTS) DeleteFileW(wideText(temp).c_str());
        return failed(path_, "error " + std::to_string(why) + " writing beside it", error);
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
