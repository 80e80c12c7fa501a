// What others do to korimath.exe's objects, for the Wine test: holds a
// service handle for a few seconds, as an open Services console does; holds
// every new service whose name starts with a prefix from the moment it
// appears; holds a file open, sharing reading only; or a named mutex, as
// another korimath.exe does, or with a DACL that denies everyone, as a
// squatting user would. Prints "held" once it holds what it was asked to.
// usage: hold_service service|watch|file|mutex|squat NAME SECONDS
#include <windows.h>
#include <sddl.h>

#include <stdlib.h>

namespace {

void Held()
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &written, nullptr);
}

}  // namespace

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
        Held();
        Sleep(milliseconds);
        return mutex != nullptr && ReleaseMutex(mutex) ? 0 : 1;
    }
    if (lstrcmpW(argv[1], L"file") == 0) {
        const HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        Held();
        Sleep(milliseconds);
        return file != INVALID_HANDLE_VALUE && CloseHandle(file) ? 0 : 1;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == nullptr) {
        return 1;
    }
    if (lstrcmpW(argv[1], L"service") == 0) {
        SC_HANDLE service = OpenServiceW(manager, argv[2], SERVICE_QUERY_STATUS);
        Held();
        Sleep(milliseconds);
        return service != nullptr && CloseServiceHandle(service) ? 0 : 1;
    }
    // watch: open each new service of that prefix as soon as it is listed, and never let go.
    static BYTE listed[256 * 1024];
    static wchar_t held[16][64];
    int holding = 0;
    const int prefix = lstrlenW(argv[2]);
    Held();  // watching from here on
    for (DWORD waited = 0; waited < milliseconds; waited += 5) {
        DWORD needed = 0, count = 0;
        if (EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_DRIVER, SERVICE_STATE_ALL, listed,
                                  sizeof(listed), &needed, &count, nullptr, nullptr)) {
            const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(listed);
            for (DWORD i = 0; i < count; ++i) {
                const wchar_t* name = services[i].lpServiceName;
                bool seen = CompareStringOrdinal(name, prefix, argv[2], prefix, TRUE) != CSTR_EQUAL;
                for (int j = 0; j < holding && !seen; ++j) {
                    seen = lstrcmpW(held[j], name) == 0;
                }
                if (!seen && holding < 16 && OpenServiceW(manager, name, SERVICE_QUERY_STATUS) != nullptr) {
                    lstrcpynW(held[holding++], name, 64);  // held until this program ends
                }
            }
        }
        Sleep(5);
    }
    return 0;
}
