#include "operator/service_control.h"

#include "operator/messages.h"

namespace {

// A kernel driver starts and stops synchronously inside the service manager's
// call; these bounds only guard against a wedged system.
constexpr DWORD StartTimeoutMs = 15000;
constexpr DWORD StopTimeoutMs = 30000;
constexpr DWORD PollIntervalMs = 100;

DWORD LastErrorOr(BOOL Succeeded)
{
    return Succeeded ? ERROR_SUCCESS : GetLastError();
}

DWORD WaitForState(SC_HANDLE Service, DWORD Wanted, DWORD TimeoutMs, SERVICE_STATUS_PROCESS& Status)
{
    const ULONGLONG deadline = GetTickCount64() + TimeoutMs;
    for (;;) {
        const DWORD error = QueryState(Service, Status);
        if (error != ERROR_SUCCESS) {
            return error;
        }
        const bool pending = Status.dwCurrentState == SERVICE_START_PENDING ||
                             Status.dwCurrentState == SERVICE_STOP_PENDING;
        if (Status.dwCurrentState == Wanted || (!pending && Wanted == SERVICE_RUNNING)) {
            return ERROR_SUCCESS;
        }
        if (GetTickCount64() >= deadline) {
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        }
        Sleep(PollIntervalMs);
    }
}

}  // namespace

DWORD OpenManager(DWORD Access, ServiceHandle& Manager)
{
    Manager.Reset(OpenSCManagerW(nullptr, nullptr, Access));
    return LastErrorOr(static_cast<bool>(Manager));
}

DWORD OpenKorimath(SC_HANDLE Manager, DWORD Access, ServiceHandle& Service)
{
    Service.Reset(OpenServiceW(Manager, ServiceName, Access));
    return LastErrorOr(static_cast<bool>(Service));
}

DWORD CreateKorimath(SC_HANDLE Manager, const wchar_t* ImagePath)
{
    // Unquoted: the kernel takes a driver's ImagePath as a path, spaces and all.
    const ServiceHandle created(CreateServiceW(Manager, ServiceName, L"Korimath virtualization probe",
                                               SERVICE_QUERY_STATUS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                               SERVICE_ERROR_NORMAL, ImagePath, nullptr, nullptr, nullptr,
                                               nullptr, nullptr));
    return LastErrorOr(static_cast<bool>(created));
}

DWORD QueryImagePath(SC_HANDLE Service, PathText& Path)
{
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    DWORD needed = 0;
    if (!QueryServiceConfigW(Service, config, sizeof(buffer), &needed)) {
        return GetLastError();
    }
    Path.Clear();
    Path.Append(config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"");
    return ERROR_SUCCESS;
}

DWORD QueryState(SC_HANDLE Service, SERVICE_STATUS_PROCESS& Status)
{
    DWORD needed = 0;
    return LastErrorOr(QueryServiceStatusEx(Service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&Status),
                                            sizeof(Status), &needed));
}

DWORD StartAndWait(SC_HANDLE Service)
{
    if (!StartServiceW(Service, 0, nullptr) && GetLastError() != ErrorServiceAlreadyRunning) {
        return GetLastError();
    }
    SERVICE_STATUS_PROCESS status;
    const DWORD error = WaitForState(Service, SERVICE_RUNNING, StartTimeoutMs, status);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    // Stopped again: DriverEntry failed, and the exit code says why.
    if (status.dwCurrentState != SERVICE_RUNNING) {
        return status.dwWin32ExitCode != ERROR_SUCCESS ? status.dwWin32ExitCode : ERROR_GEN_FAILURE;
    }
    return ERROR_SUCCESS;
}

DWORD StopAndWait(SC_HANDLE Service)
{
    SERVICE_STATUS status;
    if (!ControlService(Service, SERVICE_CONTROL_STOP, &status) && GetLastError() != ErrorServiceNotActive) {
        return GetLastError();
    }
    SERVICE_STATUS_PROCESS process;
    return WaitForState(Service, SERVICE_STOPPED, StopTimeoutMs, process);
}
