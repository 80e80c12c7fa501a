#include "operator/win32/service_control.h"

#include <sddl.h>

#include "operator/decisions/messages.h"
#include "operator/decisions/safeguards.h"
#include "operator/decisions/text.h"

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

// Asks for the size first, then fills Buffer with what Query returns. The
// query functions say "too small" with ERROR_INSUFFICIENT_BUFFER, the
// enumeration with ERROR_MORE_DATA.
template <typename Query>
DWORD QueryGrowing(WideBuffer& Buffer, Query Ask)
{
    DWORD needed = 0;
    if (Ask(nullptr, 0, &needed) ||
        (GetLastError() != ERROR_INSUFFICIENT_BUFFER && GetLastError() != ERROR_MORE_DATA)) {
        return GetLastError();
    }
    if (!Buffer.Reserve(needed / sizeof(wchar_t) + 1)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return LastErrorOr(Ask(reinterpret_cast<BYTE*>(Buffer.Data()), needed, &needed));
}

DWORD Describe(decltype(&ChangeServiceConfig2W) Configure, SC_HANDLE Service, std::wstring_view Description)
{
    WideBuffer text;
    if (!Concatenate(text, {Description})) {  // SERVICE_DESCRIPTIONW takes a writable, NUL-terminated text
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    SERVICE_DESCRIPTIONW description{text.Data()};
    return LastErrorOr(Configure(Service, SERVICE_CONFIG_DESCRIPTION, &description));
}

DWORD SecureForAdministrators(decltype(&SetServiceObjectSecurity) Secure, SC_HANDLE Service)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(ServiceSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return GetLastError();
    }
    const DWORD error = LastErrorOr(Secure(Service, DACL_SECURITY_INFORMATION, descriptor));
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
                            : L"",
                        fields.lpDisplayName != nullptr ? fields.lpDisplayName : L""};
}

ServiceApi WindowsServices()
{
    return ServiceApi{CreateServiceW, SetServiceObjectSecurity, ChangeServiceConfig2W, DeleteService,
                      CloseServiceHandle};
}

DWORD OpenManager(DWORD Access, ServiceHandle& Manager)
{
    Manager.Reset(OpenSCManagerW(nullptr, nullptr, Access));
    return LastErrorOr(static_cast<bool>(Manager));
}

DWORD OpenKorimath(SC_HANDLE Manager, const wchar_t* Name, DWORD Access, ServiceHandle& Service)
{
    Service.Reset(OpenServiceW(Manager, Name, Access));
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

DWORD CreateKorimath(const ServiceApi& Services, SC_HANDLE Manager, const wchar_t* Name, const wchar_t* DisplayName,
                     const wchar_t* ImagePath, std::wstring_view Description, DWORD Access, SC_HANDLE& Created)
{
    // Unquoted: the kernel takes a driver's ImagePath as a path, spaces and all.
    Created = Services.Create(Manager, Name, DisplayName, Access | WRITE_DAC | DELETE, SERVICE_KERNEL_DRIVER,
                              SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, ImagePath, nullptr, nullptr, nullptr, nullptr,
                              nullptr);
    DWORD error = LastErrorOr(Created != nullptr);
    if (error == ERROR_SUCCESS) {
        error = SecureForAdministrators(Services.Secure, Created);  // before anything else is done with it
    }
    if (error == ERROR_SUCCESS) {
        error = Describe(Services.Configure, Created, Description);
    }
    if (error != ERROR_SUCCESS && Created != nullptr) {
        Services.Delete(Created);
        Services.Close(Created);
        Created = nullptr;
    }
    return error;
}

DWORD RepointKorimath(SC_HANDLE Service, const wchar_t* ImagePath, std::wstring_view Description)
{
    DWORD error = LastErrorOr(ChangeServiceConfigW(Service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                                   SERVICE_ERROR_NORMAL, ImagePath, L"", nullptr, L"\0", nullptr,
                                                   nullptr, nullptr));
    if (error == ERROR_SUCCESS) {
        error = SecureForAdministrators(SetServiceObjectSecurity, Service);
    }
    return error == ERROR_SUCCESS ? Describe(ChangeServiceConfig2W, Service, Description) : error;
}

DWORD RestoreService(SC_HANDLE Service, const ServiceState& State)
{
    const QUERY_SERVICE_CONFIGW& was = State.Fields();
    DWORD error = LastErrorOr(ChangeServiceConfigW(Service, was.dwServiceType, was.dwStartType, was.dwErrorControl,
                                                   was.lpBinaryPathName, was.lpLoadOrderGroup != nullptr ? was.lpLoadOrderGroup : L"",
                                                   nullptr, was.lpDependencies != nullptr ? was.lpDependencies : L"\0",
                                                   nullptr, nullptr, nullptr));
    if (error == ERROR_SUCCESS) {
        error = Describe(ChangeServiceConfig2W, Service, State.Found().Description);
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

DWORD DeleteAndWait(SC_HANDLE Manager, const wchar_t* Name, ServiceHandle& Service, DWORD WaitMs)
{
    if (!DeleteService(Service.Get()) && GetLastError() != ErrorServiceMarkedForDelete) {
        return GetLastError();
    }
    Service.Reset(nullptr);
    for (DWORD waited = 0;; waited += PollIntervalMs) {
        ServiceHandle probe;
        if (OpenKorimath(Manager, Name, SERVICE_QUERY_STATUS, probe) == ErrorServiceDoesNotExist) {
            return ERROR_SUCCESS;
        }
        if (waited >= WaitMs) {
            return ErrorServiceMarkedForDelete;
        }
        Sleep(PollIntervalMs);
    }
}

void RemoveRunLeftovers(SC_HANDLE Manager)
{
    WideBuffer listed;
    DWORD count = 0;
    if (QueryGrowing(listed, [&](BYTE* Into, DWORD Size, DWORD* Needed) {
            return EnumServicesStatusExW(Manager, SC_ENUM_PROCESS_INFO, SERVICE_DRIVER, SERVICE_STATE_ALL, Into, Size,
                                         Needed, &count, nullptr, nullptr);
        }) != ERROR_SUCCESS) {
        return;
    }
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(listed.CStr());
    for (DWORD i = 0; i < count; ++i) {
        const wchar_t* name = services[i].lpServiceName;
        ServiceHandle service;
        ServiceState state;
        if (!StartsWith(name, RunServicePrefix) ||
            OpenKorimath(Manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE,
                         service) != ERROR_SUCCESS ||
            ReadServiceState(service.Get(), state) != ERROR_SUCCESS || !IsRunLeftover(name, state.Found())) {
            continue;
        }
        StopAndWait(service.Get());
        DeleteService(service.Get());  // marked for deletion, at worst: it goes when its holder lets go
    }
}
