// What others do to korimath.exe's objects, for the Wine test: holds a
// service handle for a few seconds, as an open Services console does; or a
// named mutex, as another korimath.exe does, or with a DACL that denies
// everyone, as a squatting user would.
// usage: hold_service service NAME SECONDS | mutex NAME SECONDS | squat NAME SECONDS
#include <windows.h>
#include <sddl.h>

#include <stdlib.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        return 2;
    }
    const DWORD milliseconds = static_cast<DWORD>(1000 * _wtoi(argv[3]));
    const bool squat = lstrcmpW(argv[1], L"squat") == 0;
    if (squat || lstrcmpW(argv[1], L"mutex") == 0) {
        PSECURITY_DESCRIPTOR denied = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", SDDL_REVISION_1, &denied, nullptr);
        SECURITY_ATTRIBUTES security{sizeof(security), denied, FALSE};
        const HANDLE mutex = CreateMutexW(squat ? &security : nullptr, TRUE, argv[2]);
        Sleep(milliseconds);
        return mutex != nullptr && ReleaseMutex(mutex) ? 0 : 1;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, argv[2], SERVICE_QUERY_STATUS) : nullptr;
    if (service == nullptr) {
        return 1;
    }
    Sleep(milliseconds);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}
