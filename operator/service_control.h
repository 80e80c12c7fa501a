// The korimath kernel-driver service through the service control manager's
// API: numeric states and Win32 error codes, never sc.exe's translated text.
#pragma once

#include <windows.h>

#include "operator/image_path.h"

constexpr const wchar_t* ServiceName = L"korimath";

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

// Each returns ERROR_SUCCESS or the Win32 error.
DWORD OpenManager(DWORD Access, ServiceHandle& Manager);
DWORD OpenKorimath(SC_HANDLE Manager, DWORD Access, ServiceHandle& Service);
DWORD CreateKorimath(SC_HANDLE Manager, const wchar_t* ImagePath);
DWORD QueryImagePath(SC_HANDLE Service, PathText& Path);  // as stored, not normalized
DWORD QueryState(SC_HANDLE Service, SERVICE_STATUS_PROCESS& Status);

// Starts the driver and waits until it runs; an already running driver is
// no failure. A driver that stopped again returns its exit code.
DWORD StartAndWait(SC_HANDLE Service);
// Stops the driver and waits until it has stopped; a driver that is not
// running is no failure.
DWORD StopAndWait(SC_HANDLE Service);
