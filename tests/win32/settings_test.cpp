// The registry values as RegGetValueW documents them (ERROR_FILE_NOT_FOUND
// for a value that is absent, ERROR_UNSUPPORTED_TYPE for another type than
// RRF_RT_REG_DWORD asks), and the Windows Hypervisor Platform as
// WHvGetCapability documents WHvCapabilityCodeHypervisorPresent.
#include <map>
#include <string>

#include "operator/win32/windows_side.h"
#include "tests/win32/expect.h"

namespace {

struct Value {
    DWORD Type, Data;
};
std::map<std::wstring, Value> Values;  // "key\name"
bool Wow64View = true;

LSTATUS WINAPI GetValue(HKEY Root, LPCWSTR Key, LPCWSTR Name, DWORD Flags, LPDWORD, PVOID Data, LPDWORD Size)
{
    Wow64View = Wow64View && (Flags & RRF_SUBKEY_WOW6464KEY) != 0;
    const auto found = Values.find(std::wstring(Key) + L"\\" + Name);
    if (Root != HKEY_LOCAL_MACHINE || found == Values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if ((Flags & RRF_RT_REG_DWORD) == 0 || found->second.Type != REG_DWORD || *Size < 4) {
        return ERROR_UNSUPPORTED_TYPE;
    }
    *static_cast<DWORD*>(Data) = found->second.Data;
    return ERROR_SUCCESS;
}

HRESULT Answer;
BOOL Present;

}  // namespace

void SettingsTable()
{
    const std::wstring guard = L"SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\";
    const std::wstring policy = L"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceGuard\\";
    Values = {{guard + L"EnableVirtualizationBasedSecurity", {REG_DWORD, 1}},
              {guard + L"Locked", {REG_SZ, 1}},  // another type: as if absent
              {guard + L"Scenarios\\HypervisorEnforcedCodeIntegrity\\Enabled", {REG_DWORD, 1}},
              {guard + L"Scenarios\\HypervisorEnforcedCodeIntegrity\\Locked", {REG_DWORD, 0}},
              {L"SYSTEM\\CurrentControlSet\\Control\\Lsa\\LsaCfgFlags", {REG_DWORD, 2}},
              {policy + L"EnableVirtualizationBasedSecurity", {REG_DWORD, 0}},
              {policy + L"HypervisorEnforcedCodeIntegrity", {REG_DWORD, 1}},
              {policy + L"LsaCfgFlags", {REG_QWORD, 1}}};
    Vbs read;
    ReadVbsSettings(RegistryApi{GetValue}, read);
    const auto is = [](Setting Read, bool Present, unsigned long Data) { return Read.Present == Present && Read.Value == Data; };
    EXPECT(is(read.Enabled, true, 1) && is(read.Locked, false, 0), "local VBS values");
    EXPECT(is(read.HvciEnabled, true, 1) && is(read.HvciLocked, true, 0) && is(read.LsaCfgFlags, true, 2), "local values");
    EXPECT(is(read.PolicyEnabled, true, 0) && is(read.PolicyHvci, true, 1) && is(read.PolicyLsaCfgFlags, false, 0),
           "policy values");
    EXPECT(Wow64View, "the 64-bit view");

    const struct { const char* Case; bool Loaded; HRESULT Answer; BOOL Present; Platform Expected; } platforms[] = {
        {"winhvplatform.dll absent", false, S_OK, TRUE, Platform::NotAvailable},
        {"the call failing", true, E_FAIL, TRUE, Platform::NotUsable},
        {"no hypervisor", true, S_OK, FALSE, Platform::NotUsable},
        {"the hypervisor present", true, S_OK, TRUE, Platform::Usable},
    };
    for (const auto& row : platforms) {
        Answer = row.Answer;
        Present = row.Present;
        const PlatformApi whv{[](WHV_CAPABILITY_CODE Code, VOID* Buffer, UINT32 Size, UINT32* Written) {
            const bool asked = Code == WHvCapabilityCodeHypervisorPresent && Size >= sizeof(WHV_CAPABILITY);
            static_cast<WHV_CAPABILITY*>(Buffer)->HypervisorPresent = asked && Present;
            *Written = sizeof(BOOL);
            return asked ? Answer : E_INVALIDARG;
        }};
        EXPECT(ReadPlatform(row.Loaded ? whv : PlatformApi{}) == row.Expected, row.Case);
    }
}
