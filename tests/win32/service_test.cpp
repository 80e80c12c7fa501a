// A new service's security as CreateServiceW and SetServiceObjectSecurity
// document it: CreateServiceW takes no security descriptor, so korimath sets
// its DACL in the very next call, before anything else, and deletes what it
// created when that fails. Wine's service manager ignores DACLs: a double.
#include <string>

#include "operator/decisions/safeguards.h"
#include "operator/win32/service_control.h"
#include "tests/win32/expect.h"

#include <sddl.h>

namespace {

struct ServiceWorld {
    DWORD Create = 0, Secure = 0, Describe = 0;  // each call's failure, 0 for success
    std::string Calls;
    std::wstring Dacl, Display;
} World;

SC_HANDLE const Created = reinterpret_cast<SC_HANDLE>(0x10);

BOOL Answer(DWORD Error)
{
    SetLastError(Error);
    return Error == 0;
}

const ServiceApi Double{
    [](SC_HANDLE, LPCWSTR Name, LPCWSTR Display, DWORD Access, DWORD Type, DWORD Start, DWORD, LPCWSTR, LPCWSTR,
       LPDWORD, LPCWSTR, LPCWSTR, LPCWSTR) -> SC_HANDLE {
        const bool right = std::wstring(Name) == L"korimath-run-0123456789abcdef" && Type == SERVICE_KERNEL_DRIVER &&
                           Start == SERVICE_DEMAND_START && (Access & WRITE_DAC) != 0;
        World.Calls += right ? "create " : "create-wrong ";
        World.Display = Display;
        return Answer(World.Create) ? Created : nullptr;
    },
    [](SC_HANDLE Service, SECURITY_INFORMATION What, PSECURITY_DESCRIPTOR Descriptor) {
        wchar_t* sddl = nullptr;
        ConvertSecurityDescriptorToStringSecurityDescriptorW(Descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &sddl, nullptr);
        World.Dacl = What == DACL_SECURITY_INFORMATION && Service == Created && sddl != nullptr ? sddl : L"";
        LocalFree(sddl);
        World.Calls += "secure ";
        return Answer(World.Secure);
    },
    [](SC_HANDLE, DWORD Level, LPVOID) {
        World.Calls += Level == SERVICE_CONFIG_DESCRIPTION ? "describe " : "configure ";
        return Answer(World.Describe);
    },
    [](SC_HANDLE Service) { return World.Calls += Service == Created ? "delete " : "delete-other ", TRUE; },
    [](SC_HANDLE Service) { return World.Calls += Service == Created ? "close" : "close-other", TRUE; },
};

}  // namespace

void ServiceTable()
{
    const struct { const char* Case; ServiceWorld World; DWORD Error; const char* Calls; } rows[] = {
        {"created, secured first", {}, 0, "create secure describe "},
        {"the name taken", {ERROR_SERVICE_EXISTS}, ERROR_SERVICE_EXISTS, "create "},
        {"its security refused: deleted again", {0, ERROR_ACCESS_DENIED}, ERROR_ACCESS_DENIED,
         "create secure delete close"},
        {"its description refused: deleted again", {0, 0, ERROR_INVALID_PARAMETER}, ERROR_INVALID_PARAMETER,
         "create secure describe delete close"},
    };
    for (const auto& row : rows) {
        World = row.World;
        SC_HANDLE created = nullptr;
        const DWORD error = CreateKorimath(Double, nullptr, L"korimath-run-0123456789abcdef", RunDisplayName.data(),
                                           SystemCopyImagePath, RunDescription, SERVICE_START, created);
        EXPECT(error == row.Error && World.Calls == row.Calls && (created != nullptr) == (row.Error == 0), row.Case);
        EXPECT(row.World.Create != 0 || (World.Dacl == ServiceSddl && World.Display == RunDisplayName), row.Case);
    }
}
