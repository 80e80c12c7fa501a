#include "operator/win32/instance_lock.h"

#include <sddl.h>

#include "operator/win32/system_library.h"

namespace {

// Microsoft Learn, "Object Namespaces" and CreatePrivateNamespaceW: a
// boundary descriptor with the Administrators SID; only a caller whose token
// has that SID enabled may create the namespace.
using CreateBoundary = HANDLE(WINAPI*)(LPCWSTR, ULONG);
using AddSid = BOOL(WINAPI*)(HANDLE*, PSID);
using CreateNamespace = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
using OpenNamespace = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
using CloseNamespace = BOOLEAN(WINAPI*)(HANDLE, ULONG);
using DeleteBoundary = VOID(WINAPI*)(HANDLE);

}  // namespace

InstanceLock::InstanceLock(DWORD TimeoutMs)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(AdministratorsOnlySddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        error_ = GetLastError();
        return;
    }
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    const SystemLibrary kernel(L"kernel32.dll");
    const auto createBoundary = kernel.Find<CreateBoundary>("CreateBoundaryDescriptorW");
    const auto addSid = kernel.Find<AddSid>("AddSIDToBoundaryDescriptor");
    const auto createNamespace = kernel.Find<CreateNamespace>("CreatePrivateNamespaceW");
    const auto openNamespace = kernel.Find<OpenNamespace>("OpenPrivateNamespaceW");
    PSID administrators = nullptr;
    const wchar_t* name = LockName;
    if (createBoundary != nullptr && addSid != nullptr && createNamespace != nullptr && openNamespace != nullptr) {
        boundary_ = createBoundary(LockNamespace, 0);
        if (boundary_ != nullptr && ConvertStringSidToSidW(LockBoundarySid, &administrators) &&
            addSid(&boundary_, administrators)) {
            // Another korimath may create it between the two calls: try again.
            for (int attempt = 0; attempt < 3 && space_ == nullptr; ++attempt) {
                space_ = createNamespace(&security, boundary_, LockNamespace);
                if (space_ == nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
                    space_ = openNamespace(boundary_, LockNamespace);
                }
            }
        }
        LocalFree(administrators);
        if (space_ == nullptr) {
            error_ = GetLastError();
            LocalFree(descriptor);
            return;
        }
    } else {
        // Windows without private namespaces (Wine 8; every Windows this
        // program runs on has them): a global name, with the same DACL.
        name = L"Global\\Korimath-InstallRunRemove";
    }
    mutex_ = CreateMutexW(&security, FALSE, name);
    error_ = mutex_ == nullptr ? GetLastError() : ERROR_SUCCESS;
    LocalFree(descriptor);
    outcome_ = LockOutcomeOf(mutex_ != nullptr, mutex_ != nullptr ? WaitForSingleObject(mutex_, TimeoutMs) : 0);
    if (outcome_ == LockOutcome::Unavailable && error_ == ERROR_SUCCESS) {
        error_ = GetLastError();
    }
}

InstanceLock::~InstanceLock()
{
    if (outcome_ == LockOutcome::Held) {
        ReleaseMutex(mutex_);
    }
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
    }
    const SystemLibrary kernel(L"kernel32.dll");
    if (space_ != nullptr) {
        if (const auto close = kernel.Find<CloseNamespace>("ClosePrivateNamespace")) {
            close(space_, 0);
        }
    }
    if (boundary_ != nullptr) {
        if (const auto release = kernel.Find<DeleteBoundary>("DeleteBoundaryDescriptor")) {
            release(boundary_);
        }
    }
}
