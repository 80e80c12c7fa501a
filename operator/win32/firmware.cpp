#include "operator/win32/firmware.h"

#include <windows.h>

#include "operator/win32/system_library.h"

namespace {

// The EFI global variable GUID (UEFI, "Globally Defined Variables").
constexpr const wchar_t* EfiGlobalVariable = L"{8BE4DF61-93CA-11D2-AA0D-00E098032B8C}";
// Non-volatile, boot-service and runtime access, as UEFI defines OsIndications.
constexpr DWORD VariableAttributes = 7;

using GetType = BOOL(WINAPI*)(FIRMWARE_TYPE*);
using GetVariable = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, PVOID, DWORD, PDWORD);
using SetVariable = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, PVOID, DWORD, DWORD);

struct Functions {
    SystemLibrary Kernel{L"kernel32.dll"};
    GetType Type = Kernel.Find<GetType>("GetFirmwareType");
    GetVariable Get = Kernel.Find<GetVariable>("GetFirmwareEnvironmentVariableExW");
    SetVariable Set = Kernel.Find<SetVariable>("SetFirmwareEnvironmentVariableExW");
    bool Present() const { return Type != nullptr && Get != nullptr && Set != nullptr; }
};

bool EnablePrivilege(const wchar_t* Name)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool enabled = LookupPrivilegeValueW(nullptr, Name, &privileges.Privileges[0].Luid) &&
                   AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                   GetLastError() != ERROR_NOT_ALL_ASSIGNED;
    CloseHandle(token);
    return enabled;
}

}  // namespace

FirmwareFacts ReadFirmwareFacts()
{
    FirmwareFacts facts;
    const Functions firmware;
    facts.FunctionsPresent = firmware.Present();
    if (!facts.FunctionsPresent) {
        return facts;
    }
    FIRMWARE_TYPE type = FirmwareTypeUnknown;
    facts.Type = firmware.Type(&type) ? static_cast<unsigned long>(type) : 0;
    facts.PrivilegeHeld = EnablePrivilege(SE_SYSTEM_ENVIRONMENT_NAME);
    if (facts.Type == FirmwareTypeUefi && facts.PrivilegeHeld) {
        std::uint64_t supported = 0;
        DWORD attributes = 0;
        facts.SupportRead = firmware.Get(L"OsIndicationsSupported", EfiGlobalVariable, &supported, sizeof(supported),
                                         &attributes) != 0;
        facts.Supported = supported;
    }
    return facts;
}

unsigned long RestartIntoFirmwareSetup()
{
    const Functions firmware;
    if (!firmware.Present()) {
        return ERROR_PROC_NOT_FOUND;
    }
    std::uint64_t current = 0;
    DWORD attributes = 0;
    const bool existed = firmware.Get(L"OsIndications", EfiGlobalVariable, &current, sizeof(current), &attributes) != 0;
    if (!existed && GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
        return GetLastError();
    }
    std::uint64_t wanted = WithBootToFirmwareUi(existed ? current : 0);
    if (!firmware.Set(L"OsIndications", EfiGlobalVariable, &wanted, sizeof(wanted), VariableAttributes)) {
        return GetLastError();
    }
    // A planned reconfiguration, in the shutdown reasons' terms.
    constexpr DWORD reason = SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_RECONFIG |
                             SHTDN_REASON_FLAG_PLANNED;
    DWORD error = ERROR_PRIVILEGE_NOT_HELD;
    if (EnablePrivilege(SE_SHUTDOWN_NAME)) {
        error = InitiateShutdownW(nullptr, nullptr, 0, SHUTDOWN_RESTART, reason);
        if (error == ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
    }
    // No restart: the next one, whenever, must not land in setup unasked.
    firmware.Set(L"OsIndications", EfiGlobalVariable, existed ? &current : nullptr, existed ? sizeof(current) : 0,
                 VariableAttributes);
    return error;
}
