// Holds for a few seconds a service handle, as an open Services console does,
// or a named mutex, as another korimath.exe does.
// usage: hold_service service NAME SECONDS | hold_service mutex NAME SECONDS
#include <windows.h>

#include <stdlib.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        return 2;
    }
    const DWORD milliseconds = static_cast<DWORD>(1000 * _wtoi(argv[3]));
    if (lstrcmpW(argv[1], L"mutex") == 0) {
        const HANDLE mutex = CreateMutexW(nullptr, TRUE, argv[2]);
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
