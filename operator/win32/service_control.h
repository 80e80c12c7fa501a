// The korimath kernel-driver service through the service control manager's
// API: numeric states and Win32 error codes, never sc.exe's translated text.
#pragma once

#include <windows.h>

#include "operator/decisions/driver_plan.h"
#include "operator/win32/wide_buffer.h"

// Closes a service or service-manager handle when it goes out of scope.
class ServiceHandle {
public:
    ServiceHandle() = default;
    explicit ServiceHandle(SC_HANDLE Handle) : handle_(Handle) {}
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    ~ServiceHandle() { Reset(nullptr); }
    void Reset(SC_HANDLE Handle)
    {
        if (handle_ != nullptr) {
            CloseServiceHandle(handle_);
        }
        handle_ = Handle;
    }
    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_ = nullptr;
};

// A service's configuration, description and security as found: what run
// classifies, and puts back on a service it did not create.
struct ServiceState {
    WideBuffer Config;       // QUERY_SERVICE_CONFIGW and its strings
    WideBuffer Description;  // SERVICE_DESCRIPTIONW and its string
    WideBuffer Security;     // its DACL, self-relative
    const QUERY_SERVICE_CONFIGW& Fields() const { return *reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(Config.CStr()); }
    ServiceFound Found() const;
};

// The service manager's calls that give a new service its security; the
// tests under Wine, whose service manager ignores DACLs, fill it with doubles.
struct ServiceApi {
    decltype(&CreateServiceW) Create = nullptr;
    decltype(&SetServiceObjectSecurity) Secure = nullptr;
    decltype(&ChangeServiceConfig2W) Configure = nullptr;
    decltype(&DeleteService) Delete = nullptr;
    decltype(&CloseServiceHandle) Close = nullptr;
};
ServiceApi WindowsServices();

// Each returns ERROR_SUCCESS or the Win32 error.
DWORD OpenManager(DWORD Access, ServiceHandle& Manager);
DWORD OpenKorimath(SC_HANDLE Manager, const wchar_t* Name, DWORD Access, ServiceHandle& Service);
DWORD ReadServiceState(SC_HANDLE Service, ServiceState& State);
// A demand-start kernel driver Name, shown as DisplayName, loading ImagePath,
// described as Description; its DACL (SYSTEM and Administrators only) is set
// before anything else is done with it. Created is null on failure, when
// what was created is deleted again.
DWORD CreateKorimath(const ServiceApi& Services, SC_HANDLE Manager, const wchar_t* Name, const wchar_t* DisplayName,
                     const wchar_t* ImagePath, std::wstring_view Description, DWORD Access, SC_HANDLE& Created);
// Points an existing service at ImagePath as a demand-start kernel driver, in
// place (no deletion a program holding the service open could delay), with no
// load-order group or dependencies and the same security as a created one.
DWORD RepointKorimath(SC_HANDLE Service, const wchar_t* ImagePath, std::wstring_view Description);
// Puts back a configuration, description and security ReadServiceState read.
DWORD RestoreService(SC_HANDLE Service, const ServiceState& State);
DWORD QueryState(SC_HANDLE Service, SERVICE_STATUS_PROCESS& Status);

// Starts the driver and waits until it runs; an already running driver is
// no failure. A driver that stopped again returns its exit code.
DWORD StartAndWait(SC_HANDLE Service);
// Stops the driver and waits until it has stopped; a driver that is not
// running is no failure.
DWORD StopAndWait(SC_HANDLE Service);
// Deletes the service Name and waits up to WaitMs until the service manager
// no longer knows it: it goes only when the last handle to it closes.
// ERROR_SERVICE_MARKED_FOR_DELETE if it stays.
DWORD DeleteAndWait(SC_HANDLE Manager, const wchar_t* Name, ServiceHandle& Service, DWORD WaitMs);

// Stops and deletes the temporary services earlier runs left behind
// (IsRunLeftover), and nothing else. Manager needs SC_MANAGER_ENUMERATE_SERVICE.
void RemoveRunLeftovers(SC_HANDLE Manager);
