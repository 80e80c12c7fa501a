#include "operator/win32/private_folder.h"

#include <bcrypt.h>
#include <sddl.h>

#include "operator/decisions/safeguards.h"

namespace {

// Deletes Folder's files and folders, then Folder. A link inside is removed
// as a link, never followed: RemoveDirectoryW and DeleteFileW act on the
// name (Microsoft Learn, "Reparse Points and File Operations").
void RemoveTree(const std::wstring_view Folder)
{
    WideBuffer pattern;
    if (!pattern.Reserve(Folder.size() + 3)) {
        return;
    }
    std::char_traits<wchar_t>::copy(pattern.Data(), Folder.data(), Folder.size());
    std::char_traits<wchar_t>::copy(pattern.Data() + Folder.size(), L"\\*", 2);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.CStr(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..") {
            continue;
        }
        WideBuffer child;
        if (!child.Reserve(Folder.size() + name.size() + 2)) {
            continue;
        }
        std::char_traits<wchar_t>::copy(child.Data(), Folder.data(), Folder.size());
        child.Data()[Folder.size()] = L'\\';
        std::char_traits<wchar_t>::copy(child.Data() + Folder.size() + 1, name.data(), name.size());
        child.SetLength(Folder.size() + 1 + name.size());
        const DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            RemoveTree(child.View());
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveDirectoryW(child.CStr());
        } else {
            SetFileAttributesW(child.CStr(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(child.CStr());
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    pattern.Data()[Folder.size()] = 0;
    RemoveDirectoryW(pattern.CStr());
}

}  // namespace

bool UnpredictableName(std::wstring_view Prefix, FixedText<64>& Name)
{
    unsigned char bytes[8];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return false;
    }
    Name.Clear();
    Name.Append(Prefix);
    for (const unsigned char byte : bytes) {
        const wchar_t digits[2] = {L"0123456789abcdef"[byte >> 4], L"0123456789abcdef"[byte & 0xF]};
        Name.Append(std::wstring_view(digits, 2));
    }
    return true;
}

PrivateFolder::PrivateFolder()
{
    wchar_t windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (length == 0 || length >= MAX_PATH ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(AdministratorsOnlyFolderSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        error_ = GetLastError();
        return;
    }
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    for (int attempt = 0; attempt < 3 && !created_; ++attempt) {
        FixedText<64> name;
        if (!UnpredictableName(L"\\Temp\\korimath-", name) || !path_.Reserve(length + name.Length + 1)) {
            error_ = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        std::char_traits<wchar_t>::copy(path_.Data(), windows, length);
        std::char_traits<wchar_t>::copy(path_.Data() + length, name.Chars, name.Length);
        path_.SetLength(length + name.Length);
        created_ = CreateDirectoryW(path_.CStr(), &security) != FALSE;
        error_ = created_ ? ERROR_SUCCESS : GetLastError();
        if (!created_ && error_ != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    LocalFree(descriptor);
}

PrivateFolder::~PrivateFolder()
{
    if (created_) {
        RemoveTree(path_.View());
    }
}
