// Holds a handle to a service for a few seconds, as an open Services console
// would, so that a deletion cannot complete until it lets go.
// usage: hold_service NAME SECONDS
#include <windows.h>

#include <stdlib.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, argv[1], SERVICE_QUERY_STATUS) : nullptr;
    if (service == nullptr) {
        return 1;
    }
    Sleep(static_cast<DWORD>(1000 * _wtoi(argv[2])));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}
