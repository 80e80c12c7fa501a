#include "operator/win32/firmware.h"

#include "operator/win32/system_library.h"

namespace {

// The EFI global variable GUID (UEFI, "Globally Defined Variables").
constexpr const wchar_t* EfiGlobalVariable = L"{8BE4DF61-93CA-11D2-AA0D-00E098032B8C}";
// Non-volatile, boot-service and runtime access, as UEFI defines OsIndications.
constexpr DWORD VariableAttributes = 7;
// How long a restart may take to begin, polled twice a second.
constexpr int RestartPolls = 60;

bool EnableOwnPrivilege(const wchar_t* Name)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool enabled = LookupPrivilegeValueW(nullptr, Name, &privileges.Privileges[0].Luid) &&
                         AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                         GetLastError() != ERROR_NOT_ALL_ASSIGNED;
    CloseHandle(token);
    return enabled;
}

bool Present(const FirmwareApi& Firmware)
{
    return Firmware.GetType != nullptr && Firmware.GetVariable != nullptr && Firmware.SetVariable != nullptr &&
           Firmware.GetMetric != nullptr;
}

// SM_SHUTTINGDOWN: "nonzero if the current session is shutting down". A
// restart that began ends this process; returning means it was cancelled
// (it stopped shutting down again), or never began.
void WaitForRestart(const FirmwareApi& Firmware)
{
    for (int poll = 0; poll < RestartPolls; ++poll) {
        if (Firmware.GetMetric(SM_SHUTTINGDOWN) != 0) {
            while (Firmware.GetMetric(SM_SHUTTINGDOWN) != 0) {
                Firmware.Wait(500);
            }
            return;
        }
        Firmware.Wait(500);
    }
}

}  // namespace

FirmwareApi LoadFirmwareApi(const SystemLibrary& Kernel, const SystemLibrary& User)
{
    using GetType = BOOL(WINAPI*)(FIRMWARE_TYPE*);
    using GetVariable = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, PVOID, DWORD, PDWORD);
    using SetVariable = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, PVOID, DWORD, DWORD);
    return FirmwareApi{Kernel.Find<GetType>("GetFirmwareType"),
                       Kernel.Find<GetVariable>("GetFirmwareEnvironmentVariableExW"),
                       Kernel.Find<SetVariable>("SetFirmwareEnvironmentVariableExW"),
                       EnableOwnPrivilege,
                       InitiateShutdownW,
                       KORIMATH_FIND(User, GetSystemMetrics),
                       Sleep};
}

FirmwareFacts ReadFirmwareFacts(const FirmwareApi& Firmware)
{
    FirmwareFacts facts;
    facts.FunctionsPresent = Present(Firmware);
    if (!facts.FunctionsPresent) {
        return facts;
    }
    FIRMWARE_TYPE type = FirmwareTypeUnknown;
    facts.Type = Firmware.GetType(&type) ? static_cast<unsigned long>(type) : 0;
    facts.PrivilegeHeld = Firmware.EnablePrivilege(SE_SYSTEM_ENVIRONMENT_NAME);
    if (facts.Type == FirmwareTypeUefi && facts.PrivilegeHeld) {
        std::uint64_t supported = 0;
        DWORD attributes = 0;
        facts.SupportRead = Firmware.GetVariable(L"OsIndicationsSupported", EfiGlobalVariable, &supported,
                                                 sizeof(supported), &attributes) != 0;
        facts.Supported = supported;
    }
    return facts;
}

FirmwareRestart RestartIntoFirmwareSetup(const FirmwareApi& Firmware)
{
    FirmwareRestart restart;
    if (!Present(Firmware)) {
        restart.Error = ERROR_PROC_NOT_FOUND;
        return restart;
    }
    std::uint64_t current = 0;
    DWORD attributes = 0;
    const bool existed = Firmware.GetVariable(L"OsIndications", EfiGlobalVariable, &current, sizeof(current),
                                              &attributes) != 0;
    if (!existed && GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
        restart.Error = GetLastError();
        return restart;
    }
    std::uint64_t wanted = WithBootToFirmwareUi(existed ? current : 0);
    if (!Firmware.SetVariable(L"OsIndications", EfiGlobalVariable, &wanted, sizeof(wanted), VariableAttributes)) {
        restart.Error = GetLastError();
        return restart;
    }
    // A planned reconfiguration, in the shutdown reasons' terms.
    constexpr DWORD reason = SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_RECONFIG |
                             SHTDN_REASON_FLAG_PLANNED;
    restart.Error = ERROR_PRIVILEGE_NOT_HELD;
    if (Firmware.EnablePrivilege(SE_SHUTDOWN_NAME)) {
        restart.Error = Firmware.InitiateShutdown(nullptr, nullptr, 0, SHUTDOWN_RESTART, reason);
        if (restart.Error == ERROR_SUCCESS) {
            WaitForRestart(Firmware);
            restart.Cancelled = true;
        }
    }
    // No restart: the next one, whenever, must not land in setup unasked.
    // Size 0 deletes a variable (SetFirmwareEnvironmentVariableExW).
    restart.Restored = Firmware.SetVariable(L"OsIndications", EfiGlobalVariable, existed ? &current : nullptr,
                                            existed ? sizeof(current) : 0, VariableAttributes) != FALSE;
    restart.RestoreError = restart.Restored ? ERROR_SUCCESS : GetLastError();
    return restart;
}
