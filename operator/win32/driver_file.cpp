#include "operator/win32/driver_file.h"

#include <sddl.h>

#include <cstring>

#include "operator/decisions/text.h"
#include "operator/resource_ids.h"
#include "operator/win32/copy_inspection.h"
#include "operator/win32/folder_search.h"

namespace {

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
// no root, no path; Microsoft Learn, "FILE_RENAME_INFORMATION structure
// (ntifs.h)" and "FILE_RENAME_INFO structure (winbase.h)"), for which Windows
// opens no target folder, which a standard user may hold open without sharing. Where it did not land at Path
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
    return !Windows.empty() && Concatenate(Path, {Windows, L"\\System32\\drivers\\korimath.sys"});
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
    problem_ = InspectCopy(handle_, Path);
    if (problem_ == CopyProblem::None && SameBytes(handle_, Driver)) {
        return SystemCopyState::SameAsCarried;
    }
    Release();
    return SystemCopyState::Different;
}

DWORD WriteSystemCopy(const wchar_t* Path, const CarriedDriver& Driver)
{
    // Beside it, in System32\drivers, where only administrators create files.
    WideBuffer temporary;
    const std::wstring_view path(Path);
    if (!TemporaryBeside(path, temporary)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
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

bool TemporaryBeside(std::wstring_view Path, WideBuffer& Temporary)
{
    FixedText<16> process;
    process.AppendNumber(GetCurrentProcessId());
    return Concatenate(Temporary, {Path, L".", process.View(), L".new"});
}

void RemoveCopyLeftovers(const wchar_t* Path)
{
    const std::wstring_view path(Path);
    const std::size_t slash = path.find_last_of(L'\\');
    WideBuffer pattern;
    if (slash == std::wstring_view::npos || !Concatenate(pattern, {Tail(path, slash + 1), L".*.new"})) {
        return;
    }
    ForEachFileIn(std::wstring_view(Path, slash), pattern.View(),
                  [](const WideBuffer& Leftover, const WIN32_FIND_DATAW&) {
                      DeleteFileW(Leftover.CStr());  // a link is deleted as a link, never followed
                  });
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
