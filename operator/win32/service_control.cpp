#include "operator/win32/service_control.h"

#include <sddl.h>

#include "operator/decisions/messages.h"
#include "operator/decisions/safeguards.h"

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

DWORD WaitFor(SC_HANDLE Service, Awaited For, DWORD TimeoutMs, SERVICE_STATUS_PROCESS& Status)
{
    const ULONGLONG deadline = GetTickCount64() + TimeoutMs;
    for (;;) {
        const DWORD error = QueryState(Service, Status);
        if (error != ERROR_SUCCESS || WaitEnds(For, Status.dwCurrentState)) {
            return error;
        }
        if (GetTickCount64() >= deadline) {
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        }
        Sleep(PollIntervalMs);
    }
}

// Asks for the size first, then fills Buffer with what Query returns.
template <typename Query>
DWORD QueryGrowing(WideBuffer& Buffer, Query Ask)
{
    DWORD needed = 0;
    if (Ask(nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return GetLastError();
    }
    if (!Buffer.Reserve(needed / sizeof(wchar_t) + 1)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return LastErrorOr(Ask(reinterpret_cast<BYTE*>(Buffer.Data()), needed, &needed));
}

DWORD Describe(SC_HANDLE Service, std::wstring_view Description)
{
    WideBuffer text;
    if (!text.Reserve(Description.size() + 1)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::char_traits<wchar_t>::copy(text.Data(), Description.data(), Description.size());
    SERVICE_DESCRIPTIONW description{text.Data()};
    return LastErrorOr(ChangeServiceConfig2W(Service, SERVICE_CONFIG_DESCRIPTION, &description));
}

DWORD SecureForAdministrators(SC_HANDLE Service)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(ServiceSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return GetLastError();
    }
    const DWORD error = LastErrorOr(SetServiceObjectSecurity(Service, DACL_SECURITY_INFORMATION, descriptor));
    LocalFree(descriptor);
    return error;
}

}  // namespace

ServiceFound ServiceState::Found() const
{
    const QUERY_SERVICE_CONFIGW& fields = Fields();
    const auto* description = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(Description.CStr());
    return ServiceFound{fields.dwServiceType == SERVICE_KERNEL_DRIVER,
                        fields.lpBinaryPathName != nullptr ? fields.lpBinaryPathName : L"",
                        Description.Capacity() != 0 && description->lpDescription != nullptr
                            ? description->lpDescription
                            : L""};
}

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

DWORD ReadServiceState(SC_HANDLE Service, ServiceState& State)
{
    const DWORD error = QueryGrowing(State.Config, [&](BYTE* Data, DWORD Size, DWORD* Needed) {
        return QueryServiceConfigW(Service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(Data), Size, Needed);
    });
    // Without a description or a readable security descriptor the service is
    // still classified; a restore then leaves those as they are.
    if (QueryGrowing(State.Description, [&](BYTE* Data, DWORD Size, DWORD* Needed) {
            return QueryServiceConfig2W(Service, SERVICE_CONFIG_DESCRIPTION, Data, Size, Needed);
        }) != ERROR_SUCCESS) {
        State.Description.Reserve(0);
    }
    if (QueryGrowing(State.Security, [&](BYTE* Data, DWORD Size, DWORD* Needed) {
            return QueryServiceObjectSecurity(Service, DACL_SECURITY_INFORMATION, Data, Size, Needed);
        }) != ERROR_SUCCESS) {
        State.Security.Reserve(0);
    }
    return error;
}

DWORD CreateKorimath(SC_HANDLE Manager, const wchar_t* ImagePath, std::wstring_view Description, DWORD Access,
                     ServiceHandle& Service)
{
    // Unquoted: the kernel takes a driver's ImagePath as a path, spaces and all.
    Service.Reset(CreateServiceW(Manager, ServiceName, L"Korimath virtualization probe", Access | WRITE_DAC,
                                 SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, ImagePath, nullptr,
                                 nullptr, nullptr, nullptr, nullptr));
    DWORD error = LastErrorOr(static_cast<bool>(Service));
    if (error == ERROR_SUCCESS) {
        error = SecureForAdministrators(Service.Get());  // before anyone else may open it
    }
    if (error == ERROR_SUCCESS) {
        error = Describe(Service.Get(), Description);
    }
    if (error != ERROR_SUCCESS && Service) {
        DeleteService(Service.Get());
        Service.Reset(nullptr);
    }
    return error;
}

DWORD RepointKorimath(SC_HANDLE Service, const wchar_t* ImagePath, std::wstring_view Description)
{
    DWORD error = LastErrorOr(ChangeServiceConfigW(Service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                                   SERVICE_ERROR_NORMAL, ImagePath, L"", nullptr, L"\0", nullptr,
                                                   nullptr, nullptr));
    if (error == ERROR_SUCCESS) {
        error = SecureForAdministrators(Service);
    }
    return error == ERROR_SUCCESS ? Describe(Service, Description) : error;
}

DWORD RestoreService(SC_HANDLE Service, const ServiceState& State)
{
    const QUERY_SERVICE_CONFIGW& was = State.Fields();
    DWORD error = LastErrorOr(ChangeServiceConfigW(Service, was.dwServiceType, was.dwStartType, was.dwErrorControl,
                                                   was.lpBinaryPathName, was.lpLoadOrderGroup != nullptr ? was.lpLoadOrderGroup : L"",
                                                   nullptr, was.lpDependencies != nullptr ? was.lpDependencies : L"\0",
                                                   nullptr, nullptr, nullptr));
    if (error == ERROR_SUCCESS) {
        error = Describe(Service, State.Found().Description);
    }
    if (error == ERROR_SUCCESS && State.Security.Capacity() != 0) {
        error = LastErrorOr(SetServiceObjectSecurity(Service, DACL_SECURITY_INFORMATION,
                                                     const_cast<wchar_t*>(State.Security.CStr())));
    }
    return error;
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
    const DWORD error = WaitFor(Service, Awaited::Running, StartTimeoutMs, status);
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
    return WaitFor(Service, Awaited::Stopped, StopTimeoutMs, process);
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
