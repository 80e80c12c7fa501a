#include "operator/win32/service_control.h"

#include "operator/decisions/messages.h"

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

DWORD CreateKorimath(SC_HANDLE Manager, const wchar_t* ImagePath, DWORD Access, ServiceHandle& Service)
{
    // Unquoted: the kernel takes a driver's ImagePath as a path, spaces and all.
    Service.Reset(CreateServiceW(Manager, ServiceName, L"Korimath virtualization probe", Access,
                                 SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, ImagePath, nullptr,
                                 nullptr, nullptr, nullptr, nullptr));
    return LastErrorOr(static_cast<bool>(Service));
}

DWORD RepointKorimath(SC_HANDLE Service, const wchar_t* ImagePath)
{
    return LastErrorOr(ChangeServiceConfigW(Service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                            SERVICE_ERROR_NORMAL, ImagePath, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr));
}

DWORD QueryImagePath(SC_HANDLE Service, WideBuffer& Path)
{
    // Asked for its size first; the configuration holds several texts.
    DWORD needed = 0;
    if (QueryServiceConfigW(Service, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return GetLastError();
    }
    WideBuffer config;
    if (!config.Reserve(needed / sizeof(wchar_t) + 1)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    auto* fields = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.Data());
    if (!QueryServiceConfigW(Service, fields, needed, &needed)) {
        return GetLastError();
    }
    const std::wstring_view image = fields->lpBinaryPathName != nullptr ? fields->lpBinaryPathName : L"";
    if (!Path.Reserve(image.size() + 1)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::char_traits<wchar_t>::copy(Path.Data(), image.data(), image.size());
    Path.SetLength(image.size());
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

DWORD DeleteAndWait(SC_HANDLE Manager, ServiceHandle& Service)
{
    if (!DeleteService(Service.Get()) && GetLastError() != ErrorServiceMarkedForDelete) {
        return GetLastError();
    }
    Service.Reset(nullptr);
    for (int attempt = 0; attempt < 50; ++attempt) {
        ServiceHandle probe;
        if (OpenKorimath(Manager, SERVICE_QUERY_STATUS, probe) == ErrorServiceDoesNotExist) {
            return ERROR_SUCCESS;
        }
        Sleep(PollIntervalMs);
    }
    return ErrorServiceMarkedForDelete;
}
