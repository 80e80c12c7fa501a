#include "operator/win32/windows_side.h"

#include "operator/decisions/messages.h"
#include "operator/win32/dism_features.h"
#include "operator/win32/launch_events.h"
#include "operator/win32/system_library.h"
#include "operator/win32/wmi_readers.h"

namespace {

Setting ReadSetting(const RegistryApi& Registry, const wchar_t* Key, const wchar_t* Name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    // RRF_RT_REG_DWORD: a value of another type answers ERROR_UNSUPPORTED_TYPE (Microsoft Learn, RegGetValueW).
    const bool present = Registry.GetValue(HKEY_LOCAL_MACHINE, Key, Name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY,
                                           nullptr, &value, &size) == ERROR_SUCCESS;
    return Setting{present, present ? value : 0};
}

}  // namespace

// WHvGetCapability(WHvCapabilityCodeHypervisorPresent): whether the
// hypervisor runs and the platform API can create partitions (Microsoft
// Learn, "WHvGetCapability").
Platform ReadPlatform(const PlatformApi& Whv)
{
    if (Whv.GetCapability == nullptr) {
        return Platform::NotAvailable;
    }
    WHV_CAPABILITY capability{};
    UINT32 written = 0;
    const HRESULT result = Whv.GetCapability(WHvCapabilityCodeHypervisorPresent, &capability, sizeof(capability),
                                             &written);
    return SUCCEEDED(result) && capability.HypervisorPresent ? Platform::Usable : Platform::NotUsable;
}

// Microsoft Learn, "Enable virtualization-based protection of code
// integrity" and "Configure Credential Guard": the local values each
// documents, and the policy values of Policy CSP - DeviceGuard (Group Policy's
// and Intune's), which win over them.
void ReadVbsSettings(const RegistryApi& Registry, Vbs& Security)
{
    constexpr const wchar_t* deviceGuard = L"SYSTEM\\CurrentControlSet\\Control\\DeviceGuard";
    constexpr const wchar_t* hvci = L"SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
                                    L"HypervisorEnforcedCodeIntegrity";
    constexpr const wchar_t* policy = L"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceGuard";
    Security.Enabled = ReadSetting(Registry, deviceGuard, L"EnableVirtualizationBasedSecurity");
    Security.Locked = ReadSetting(Registry, deviceGuard, L"Locked");
    Security.HvciEnabled = ReadSetting(Registry, hvci, L"Enabled");
    Security.HvciLocked = ReadSetting(Registry, hvci, L"Locked");
    Security.LsaCfgFlags = ReadSetting(Registry, L"SYSTEM\\CurrentControlSet\\Control\\Lsa", L"LsaCfgFlags");
    Security.PolicyEnabled = ReadSetting(Registry, policy, L"EnableVirtualizationBasedSecurity");
    Security.PolicyHvci = ReadSetting(Registry, policy, L"HypervisorEnforcedCodeIntegrity");
    Security.PolicyLsaCfgFlags = ReadSetting(Registry, policy, L"LsaCfgFlags");
}

WindowsSide ReadWindowsSide(bool Elevated)
{
    WindowsSide side;
    DWORD product = 0;
    side.ProductType = GetProductInfo(10, 0, 0, 0, &product) ? product : 0;
    const ComApi com = WindowsCom();
    if (Elevated) {
        const SystemLibrary dism(L"dismapi.dll");
        ReadFeatures(LoadDismApi(dism), side);
        ReadLaunchSetting(com, side);
    } else {
        side.FeaturesError = ErrorElevationRequired;
    }
    using GetCapability = HRESULT(WINAPI*)(WHV_CAPABILITY_CODE, VOID*, UINT32, UINT32*);
    const SystemLibrary platform(L"winhvplatform.dll");
    side.Whp = ReadPlatform(PlatformApi{platform.Find<GetCapability>("WHvGetCapability")});
    ReadVbsSettings(RegistryApi{RegGetValueW}, side.Security);
    ReadDeviceGuard(com, side.Security);
    return side;
}
