#include "operator/win32/windows_side.h"

#include <windows.h>

#include <dismapi.h>
#include <winhvplatformdefs.h>

#include "operator/decisions/messages.h"
#include "operator/win32/system_library.h"

namespace {

// DismGetFeatureInfo's answer for a feature this image does not know
// (CBS_E_UNKNOWN_UPDATE).
constexpr HRESULT UnknownFeature = static_cast<HRESULT>(0x800F080C);

// The names DISM knows them by; Hyper-V is "Microsoft-Hyper-V" on Server.
constexpr const wchar_t* FeatureNames[OptionalFeatureCount][2] = {
    {L"Microsoft-Hyper-V-All", L"Microsoft-Hyper-V"},
    {L"VirtualMachinePlatform", nullptr},
    {L"HypervisorPlatform", nullptr},
    {L"Containers-DisposableClientVM", nullptr},
    {L"Microsoft-Windows-Subsystem-Linux", nullptr},
};

// Microsoft Learn, "DISM API Functions": DismInitialize, DismOpenSession
// (DISM_ONLINE_IMAGE), DismGetFeatureInfo, DismDelete, DismCloseSession,
// DismShutdown. DismInitialize answers ERROR_ELEVATION_REQUIRED unelevated.
void ReadFeatures(WindowsSide& Side)
{
    const SystemLibrary dism(L"dismapi.dll");
    const auto initialize = dism.Find<decltype(&DismInitialize)>("DismInitialize");
    const auto open = dism.Find<decltype(&DismOpenSession)>("DismOpenSession");
    const auto info = dism.Find<decltype(&DismGetFeatureInfo)>("DismGetFeatureInfo");
    const auto release = dism.Find<decltype(&DismDelete)>("DismDelete");
    const auto close = dism.Find<decltype(&DismCloseSession)>("DismCloseSession");
    const auto shutdown = dism.Find<decltype(&DismShutdown)>("DismShutdown");
    if (initialize == nullptr || open == nullptr || info == nullptr || release == nullptr || close == nullptr ||
        shutdown == nullptr) {
        Side.FeaturesError = ErrorModNotFound;  // no DISM API here: the features are not available
        return;
    }
    HRESULT result = initialize(DismLogErrors, nullptr, nullptr);
    if (FAILED(result)) {
        Side.FeaturesError = HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : result;
        return;
    }
    DismSession session = DISM_SESSION_DEFAULT;
    result = open(DISM_ONLINE_IMAGE, nullptr, nullptr, &session);
    if (SUCCEEDED(result)) {
        for (unsigned i = 0; i < OptionalFeatureCount; ++i) {
            FeatureState state = FeatureState::Absent;
            for (const wchar_t* name : FeatureNames[i]) {
                DismFeatureInfo* feature = nullptr;
                const HRESULT asked = name != nullptr ? info(session, name, nullptr, DismPackageNone, &feature) : UnknownFeature;
                if (SUCCEEDED(asked) && feature != nullptr) {
                    state = FeatureStateOf(feature->FeatureState);
                    release(feature);
                    break;
                }
                if (asked != UnknownFeature) {
                    state = FeatureState::NotRead;
                    break;
                }
            }
            Side.Features[i] = state;
        }
        close(session);
    } else {
        Side.FeaturesError = static_cast<unsigned long>(result);
    }
    shutdown();
}

// WHvGetCapability(WHvCapabilityCodeHypervisorPresent): whether the
// hypervisor runs and the platform API can create partitions (Microsoft
// Learn, "WHvGetCapability"). winhvplatform.dll exists only with the feature.
Platform ReadPlatform()
{
    using GetCapability = HRESULT(WINAPI*)(WHV_CAPABILITY_CODE, VOID*, UINT32, UINT32*);
    const SystemLibrary platform(L"winhvplatform.dll");
    const auto get = platform.Find<GetCapability>("WHvGetCapability");
    if (get == nullptr) {
        return Platform::NotAvailable;
    }
    WHV_CAPABILITY capability{};
    UINT32 written = 0;
    const HRESULT result = get(WHvCapabilityCodeHypervisorPresent, &capability, sizeof(capability), &written);
    return SUCCEEDED(result) && capability.HypervisorPresent ? Platform::Usable : Platform::NotUsable;
}

Setting ReadSetting(const wchar_t* Key, const wchar_t* Name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    const bool present = RegGetValueW(HKEY_LOCAL_MACHINE, Key, Name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY,
                                      nullptr, &value, &size) == ERROR_SUCCESS;
    return Setting{present, value};
}

// Microsoft Learn, "Enable virtualization-based protection of code
// integrity" and "Configure Credential Guard": the registry values each
// documents; and IsEnclaveTypeSupported(ENCLAVE_TYPE_VBS), true only while
// virtualization-based security runs.
Vbs ReadVbs()
{
    constexpr const wchar_t* deviceGuard = L"SYSTEM\\CurrentControlSet\\Control\\DeviceGuard";
    constexpr const wchar_t* hvci = L"SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
                                    L"HypervisorEnforcedCodeIntegrity";
    Vbs security;
    security.Enabled = ReadSetting(deviceGuard, L"EnableVirtualizationBasedSecurity");
    security.Locked = ReadSetting(deviceGuard, L"Locked");
    security.HvciEnabled = ReadSetting(hvci, L"Enabled");
    security.HvciLocked = ReadSetting(hvci, L"Locked");
    security.LsaCfgFlags = ReadSetting(L"SYSTEM\\CurrentControlSet\\Control\\Lsa", L"LsaCfgFlags");
    constexpr DWORD EnclaveTypeVbs = 0x10;  // ENCLAVE_TYPE_VBS, which mingw-w64 does not declare
    using IsEnclaveTypeSupported = BOOL(WINAPI*)(DWORD);
    const SystemLibrary kernel(L"kernel32.dll");
    if (const auto supported = kernel.Find<IsEnclaveTypeSupported>("IsEnclaveTypeSupported")) {
        security.RunningKnown = true;
        security.Running = supported(EnclaveTypeVbs) != FALSE;
    }
    return security;
}

}  // namespace

WindowsSide ReadWindowsSide(bool Elevated)
{
    WindowsSide side;
    DWORD product = 0;
    side.ProductType = GetProductInfo(10, 0, 0, 0, &product) ? product : 0;
    if (Elevated) {
        ReadFeatures(side);
    } else {
        side.FeaturesError = ErrorElevationRequired;
    }
    side.Whp = ReadPlatform();
    side.Security = ReadVbs();
    return side;
}
