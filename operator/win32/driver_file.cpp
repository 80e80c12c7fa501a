#include "operator/win32/driver_file.h"

#include <cstring>

#include "operator/resource_ids.h"

namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE Handle) : handle_(Handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

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
    if (Windows.empty() || !Path.Reserve(Windows.size() + rest.size() + 1)) {
        return false;
    }
    std::char_traits<wchar_t>::copy(Path.Data(), Windows.data(), Windows.size());
    std::char_traits<wchar_t>::copy(Path.Data() + Windows.size(), rest.data(), rest.size());
    Path.SetLength(Windows.size() + rest.size());
    return true;
}

SystemCopyState InspectSystemCopy(const wchar_t* Path, const CarriedDriver& Driver)
{
    const FileHandle file(CreateFileW(Path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SystemCopyState::Missing
                                                                              : SystemCopyState::Different;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart != Driver.Size) {
        return SystemCopyState::Different;
    }
    BYTE chunk[4096];
    for (DWORD offset = 0; offset < Driver.Size;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) || read == 0 ||
            read > Driver.Size - offset || memcmp(chunk, Driver.Bytes + offset, read) != 0) {
            return SystemCopyState::Different;
        }
        offset += read;
    }
    return SystemCopyState::SameAsCarried;
}

DWORD WriteSystemCopy(const wchar_t* Path, const CarriedDriver& Driver)
{
    // No sharing while it is written: nothing reads a half-written driver.
    const FileHandle file(
        CreateFileW(Path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD written = 0;
    if (!WriteFile(file.Get(), Driver.Bytes, Driver.Size, &written, nullptr) || written != Driver.Size ||
        !FlushFileBuffers(file.Get())) {
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
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
