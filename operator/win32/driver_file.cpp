#include "operator/win32/driver_file.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>

#include "operator/decisions/text.h"
#include "operator/resource_ids.h"

namespace {

// This process's user, as its token says.
bool IsSelf(PSID Sid)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool self = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
                      EqualSid(Sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(token);
    return self;
}

Trustee TrusteeOf(PSID Sid)
{
    if (IsSelf(Sid)) {
        return Trustee::Self;
    }
    if (IsWellKnownSid(Sid, WinLocalSystemSid)) {
        return Trustee::System;
    }
    return IsWellKnownSid(Sid, WinBuiltinAdministratorsSid) ? Trustee::Administrators : Trustee::Other;
}

// Whether this system keeps a file's owner: a file created beside Path with
// CopySddl reads back owned by Administrators on Windows; Wine keeps no
// descriptors and shows every file as its user's.
bool DescriptorsKept(std::wstring_view Path)
{
    FixedText<MAX_PATH + 16> probe;
    probe.Append(Path);
    probe.Append(L".");
    probe.AppendNumber(GetCurrentProcessId());
    probe.Append(L".new");  // a leftover of this name is removed like the copy's
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (probe.Truncated ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(CopySddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return true;
    }
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    DeleteFileW(probe.CStr());
    const HANDLE file = CreateFileW(probe.CStr(), GENERIC_READ | GENERIC_WRITE, 0, &security, CREATE_NEW,
                                    FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    LocalFree(descriptor);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR read = nullptr;
    const bool kept = file == INVALID_HANDLE_VALUE ||
                      GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                      nullptr, &read) != ERROR_SUCCESS ||
                      IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    LocalFree(read);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return kept;
}

// The file's attributes, links, owner and DACL, as CheckCopy weighs them.
CopyProblem Inspect(HANDLE File, std::wstring_view Path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!GetFileInformationByHandle(File, &info) ||
        GetSecurityInfo(File, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return CopyProblem::OthersMayWrite;  // what cannot be read cannot be trusted
    }
    AccessEntry entries[32];
    CopyFacts facts;
    facts.ReparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts.Links = info.nNumberOfLinks;
    facts.Owner = TrusteeOf(owner);
    facts.DaclPresent = dacl != nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || (ace->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        const bool known = ace->AceType == ACCESS_ALLOWED_ACE_TYPE || ace->AceType == ACCESS_DENIED_ACE_TYPE;
        auto* simple = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        // Any other kind of entry, or more than fit here, counts as a door left open.
        const bool last = facts.EntryCount == 31;
        entries[facts.EntryCount++] = known && !last ? AccessEntry{ace->AceType == ACCESS_ALLOWED_ACE_TYPE,
                                                                   TrusteeOf(&simple->SidStart), simple->Mask}
                                                     : AccessEntry{true, Trustee::Other, GENERIC_ALL};
        if (last) {
            break;
        }
    }
    facts.Entries = entries;
    bool self = facts.Owner == Trustee::Self;
    for (std::size_t i = 0; i < facts.EntryCount; ++i) {
        self = self || entries[i].Who == Trustee::Self;
    }
    facts.DescriptorsKept = !self || DescriptorsKept(Path);  // asked only where it matters
    const CopyProblem problem = CheckCopy(facts);
    LocalFree(descriptor);
    return problem;
}

DWORD Rename(HANDLE File, std::wstring_view Name)
{
    alignas(FILE_RENAME_INFO) BYTE buffer[sizeof(FILE_RENAME_INFO) + 1024 * sizeof(wchar_t)] = {};
    if (Name.size() >= 1024) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = static_cast<DWORD>(Name.size() * sizeof(wchar_t));
    std::char_traits<wchar_t>::copy(rename->FileName, Name.data(), Name.size());
    return SetFileInformationByHandle(File, FileRenameInfo, rename, sizeof(buffer)) ? ERROR_SUCCESS : GetLastError();
}

// Renames File to Path's name in the folder it is in, through its own
// handle and by that name alone: a simple rename (FILE_RENAME_INFORMATION,
// no root, no path), for which Windows does not open the folder, which a
// standard user may hold open without sharing. Where it did not land at Path
// (Wine takes the bare name relative to the current folder), the full path
// is given instead.
DWORD RenameInPlace(HANDLE File, std::wstring_view Path)
{
    const std::wstring_view name = Tail(Path, Path.find_last_of(L'\\') + 1);
    DWORD error = Rename(File, name);
    wchar_t landed[MAX_PATH + 8];
    const DWORD length = error == ERROR_SUCCESS ? GetFinalPathNameByHandleW(File, landed, MAX_PATH + 8, 0) : 0;
    const std::wstring_view final(landed, length < MAX_PATH + 8 ? length : 0);
    if (error == ERROR_SUCCESS && !(final.size() >= Path.size() && EqualsIgnoringAsciiCase(
                                        Tail(final, final.size() - Path.size()), Path))) {
        FixedText<MAX_PATH + 8> full;
        full.Append(L"\\??\\");
        full.Append(Path);
        error = full.Truncated ? ERROR_FILENAME_EXCED_RANGE : Rename(File, full.View());
    }
    return error;
}

bool SameBytes(HANDLE File, const CarriedDriver& Driver)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(File, &size) || size.QuadPart != Driver.Size) {
        return false;
    }
    BYTE chunk[4096];
    for (DWORD offset = 0; offset < Driver.Size;) {
        DWORD read = 0;
        if (!ReadFile(File, chunk, sizeof(chunk), &read, nullptr) || read == 0 || read > Driver.Size - offset ||
            std::memcmp(chunk, Driver.Bytes + offset, read) != 0) {
            return false;
        }
        offset += read;
    }
    return true;
}

}  // namespace

CarriedDriver FindCarriedDriver()
{
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(KORIMATH_CARRIED_DRIVER), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    if (loaded == nullptr) {
        return {};
    }
    return CarriedDriver{static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(nullptr, found)};
}

bool WindowsFolder(WideBuffer& Path)
{
    return FillGrowing(Path, [](wchar_t* Chars, DWORD Capacity) { return GetSystemWindowsDirectoryW(Chars, Capacity); });
}

bool SystemCopyPath(std::wstring_view Windows, WideBuffer& Path)
{
    constexpr std::wstring_view rest = L"\\System32\\drivers\\korimath.sys";
    if (Windows.empty() || !Path.Reserve(Windows.size() + rest.size() + 16)) {
        return false;
    }
    std::char_traits<wchar_t>::copy(Path.Data(), Windows.data(), Windows.size());
    std::char_traits<wchar_t>::copy(Path.Data() + Windows.size(), rest.data(), rest.size());
    Path.SetLength(Windows.size() + rest.size());
    return true;
}

void HeldCopy::Release()
{
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
    }
    handle_ = INVALID_HANDLE_VALUE;
}

SystemCopyState HeldCopy::Open(const wchar_t* Path, const CarriedDriver& Driver)
{
    Release();
    problem_ = CopyProblem::None;
    handle_ = CreateFileW(Path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                          nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SystemCopyState::Missing
                                                                              : SystemCopyState::Different;
    }
    problem_ = Inspect(handle_, Path);
    if (problem_ == CopyProblem::None && SameBytes(handle_, Driver)) {
        return SystemCopyState::SameAsCarried;
    }
    Release();
    return SystemCopyState::Different;
}

DWORD WriteSystemCopy(const wchar_t* Path, const CarriedDriver& Driver)
{
    // korimath.sys.<process id>.new beside it: System32\drivers, where only
    // administrators create files.
    FixedText<32> suffix;
    suffix.Append(L".");
    suffix.AppendNumber(GetCurrentProcessId());
    suffix.Append(L".new");
    WideBuffer temporary;
    const std::wstring_view path(Path);
    if (!temporary.Reserve(path.size() + suffix.Length + 1)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::char_traits<wchar_t>::copy(temporary.Data(), path.data(), path.size());
    std::char_traits<wchar_t>::copy(temporary.Data() + path.size(), suffix.Chars, suffix.Length);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(CopySddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return GetLastError();
    }
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    DeleteFileW(temporary.CStr());  // a leftover of a run that died: the name, never a link's target
    const HANDLE file = CreateFileW(temporary.CStr(), GENERIC_WRITE | DELETE, 0, &security, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD written = 0;
    const bool complete = WriteFile(file, Driver.Bytes, Driver.Size, &written, nullptr) && written == Driver.Size &&
                          FlushFileBuffers(file);
    DWORD error = complete ? ERROR_SUCCESS : (GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT);
    // The kernel lets go of a stopped driver's file a moment after the stop.
    for (int attempt = 0; error == ERROR_SUCCESS && attempt < 20; ++attempt) {
        const DWORD refused = RenameInPlace(file, path);
        if (refused == ERROR_SUCCESS) {
            break;
        }
        if ((refused != ERROR_SHARING_VIOLATION && refused != ERROR_ACCESS_DENIED) || attempt == 19) {
            error = refused;
        }
        Sleep(100);
    }
    if (error != ERROR_SUCCESS) {
        FILE_DISPOSITION_INFO gone{TRUE};  // by its handle: nothing else of that name is touched
        SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof(gone));
    }
    CloseHandle(file);
    return error;
}

void RemoveCopyLeftovers(const wchar_t* Path)
{
    const std::wstring_view path(Path);
    const std::size_t folder = path.find_last_of(L'\\') + 1;
    WideBuffer pattern;
    if (folder == 0 || !pattern.Reserve(path.size() + 8)) {
        return;
    }
    std::char_traits<wchar_t>::copy(pattern.Data(), path.data(), path.size());
    std::char_traits<wchar_t>::copy(pattern.Data() + path.size(), L".*.new", 6);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.CStr(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring_view name(found.cFileName);
        WideBuffer leftover;
        if (leftover.Reserve(folder + name.size() + 1)) {
            std::char_traits<wchar_t>::copy(leftover.Data(), path.data(), folder);
            std::char_traits<wchar_t>::copy(leftover.Data() + folder, name.data(), name.size());
            DeleteFileW(leftover.CStr());  // a link is deleted as a link, never followed
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
}

DWORD DeleteSystemCopy(const wchar_t* Path)
{
    // The kernel lets go of an unloaded driver's file a moment after the stop.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (DeleteFileW(Path)) {
            return ERROR_SUCCESS;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return ERROR_SUCCESS;
        }
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
            return error;
        }
        Sleep(100);
    }
    return GetLastError();
}
