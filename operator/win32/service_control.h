// The korimath kernel-driver service through the service control manager's
// API: numeric states and Win32 error codes, never sc.exe's translated text.
#pragma once

#include <windows.h>

#include "operator/win32/wide_buffer.h"

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
// A demand-start kernel driver loading ImagePath, opened with Access.
DWORD CreateKorimath(SC_HANDLE Manager, const wchar_t* ImagePath, DWORD Access, ServiceHandle& Service);
// Points an existing service at ImagePath as a demand-start kernel driver,
// in place: no deletion that a program holding the service open could delay.
DWORD RepointKorimath(SC_HANDLE Service, const wchar_t* ImagePath);
DWORD QueryImagePath(SC_HANDLE Service, WideBuffer& Path);  // as stored, at any length
DWORD QueryState(SC_HANDLE Service, SERVICE_STATUS_PROCESS& Status);

// Starts the driver and waits until it runs; an already running driver is
// no failure. A driver that stopped again returns its exit code.
DWORD StartAndWait(SC_HANDLE Service);
// Stops the driver and waits until it has stopped; a driver that is not
// running is no failure.
DWORD StopAndWait(SC_HANDLE Service);
// Deletes the service and waits (a few seconds) until the service manager no
// longer knows it: it goes only when the last handle to it closes, and
// another program may hold one. ERROR_SERVICE_MARKED_FOR_DELETE if it stays.
DWORD DeleteAndWait(SC_HANDLE Manager, ServiceHandle& Service);
