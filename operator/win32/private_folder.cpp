#include "operator/win32/private_folder.h"

#include <bcrypt.h>
#include <sddl.h>

#include "operator/decisions/safeguards.h"
#include "operator/win32/folder_search.h"

namespace {

// Deletes Folder's files and folders, then Folder. A link inside is removed
// as a link, never followed: RemoveDirectoryW and DeleteFileW act on the
// name (Microsoft Learn, "Reparse Points and File Operations").
void RemoveTree(const WideBuffer& Folder)
{
    ForEachFileIn(Folder.View(), L"*", [](const WideBuffer& Child, const WIN32_FIND_DATAW& Found) {
        const DWORD attributes = Found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            RemoveTree(Child);
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveDirectoryW(Child.CStr());
        } else {
            SetFileAttributesW(Child.CStr(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(Child.CStr());
        }
    });
    RemoveDirectoryW(Folder.CStr());
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
        if (!UnpredictableName(L"\\Temp\\korimath-", name) ||
            !Concatenate(path_, {std::wstring_view(windows, length), name.View()})) {
            error_ = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
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
        RemoveTree(path_);
    }
}
