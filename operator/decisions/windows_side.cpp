#include "operator/decisions/windows_side.h"

namespace {

// Every PRODUCT_* value of GetProductInfo's table (Microsoft Learn,
// GetProductInfo; winnt.h for G, GN and Pro Education N), by the edition it
// is. Business and Ultimate predate Windows 10 and its Hyper-V: other.
struct Products {
    Edition Is;
    unsigned short Types[20];
};
constexpr Products Editions[] = {
    {Edition::Home, {0x02, 0x03, 0x05, 0x0B, 0x1A, 0x2F, 0x42, 0x43, 0x44, 0x62, 0x63, 0x64, 0x65}},
    {Edition::Pro, {0x30, 0x31, 0x45, 0x67, 0xA1, 0xA2, 0xA4, 0xA5}},
    // ..., _EVALUATION, _N_EVALUATION, _S (LTSC), _S_N, _S_EVALUATION, _S_N_EVALUATION, _G, _GN,
    // SERVERRDSH (multi-session), IOTENTERPRISE, IOTENTERPRISE_S (IoT Enterprise LTSC)
    {Edition::Enterprise, {0x04, 0x1B, 0x46, 0x48, 0x54, 0x7D, 0x7E, 0x81, 0x82, 0xAB, 0xAC, 0xAF, 0xBC, 0xBF}},
    {Edition::Education, {0x79, 0x7A}},
    {Edition::Server, {0x07, 0x08, 0x09, 0x0A, 0x0C, 0x0D, 0x0E, 0x0F, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,
                       0x19, 0x1D, 0x1E, 0x1F}},
    {Edition::Server, {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2B, 0x2C, 0x2D, 0x2E, 0x32, 0x33,
                       0x34, 0x35, 0x36, 0x37}},
    {Edition::Server, {0x38, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x4C, 0x4D, 0x4F, 0x50, 0x5F, 0x60, 0x91, 0x92}},
    {Edition::HyperVServer, {0x2A}},
};

bool On(const Setting& Value, unsigned long A, unsigned long B = 0)
{
    return Value.Present && (Value.Value == A || (B != 0 && Value.Value == B));
}

unsigned long Bit(SecurityService Service)
{
    return 1UL << static_cast<unsigned>(Service);
}

}  // namespace

Edition EditionOf(unsigned long ProductType)
{
    if (ProductType == 0) {
        return Edition::Unknown;
    }
    for (const Products& products : Editions) {
        for (const unsigned short type : products.Types) {
            if (type != 0 && type == ProductType) {
                return products.Is;
            }
        }
    }
    return Edition::Other;
}

const wchar_t* EditionName(Edition Which)
{
    constexpr const wchar_t* names[] = {nullptr,     L"home",   L"pro",           L"enterprise",
                                        L"education", L"server", L"hyper-v-server", L"other"};
    return names[static_cast<unsigned>(Which)];
}

FeatureState FeatureStateOf(int DismState)
{
    switch (DismState) {
    case 4:  // DismStateInstalled
        return FeatureState::Enabled;
    case 1:  // DismStateUninstallPending
    case 5:  // DismStateInstallPending
        return FeatureState::RestartPending;
    default:  // NotPresent, Staged, Removed (payload gone), Superseded, PartiallyInstalled
        return FeatureState::Disabled;
    }
}

const wchar_t* FeatureStateName(FeatureState State)
{
    constexpr const wchar_t* names[] = {nullptr, L"enabled", L"disabled", L"absent", L"restart-pending"};
    return names[static_cast<unsigned>(State)];
}

Tri VbsConfigured(const Vbs& Security)
{
    if (Security.StatusRead) {
        return {true, Security.Status != 0};
    }
    const Setting& value = Security.PolicyEnabled.Present ? Security.PolicyEnabled : Security.Enabled;
    return {value.Present, On(value, 1)};
}

Tri CredentialGuardConfigured(const Vbs& Security)
{
    if (Security.StatusRead) {
        return {true, (Security.Configured & Bit(SecurityService::CredentialGuard)) != 0};
    }
    const Setting& flags = Security.PolicyLsaCfgFlags.Present ? Security.PolicyLsaCfgFlags : Security.LsaCfgFlags;
    return {flags.Present, On(flags, 1, 2)};
}

Tri MemoryIntegrityConfigured(const Vbs& Security)
{
    if (Security.StatusRead) {
        return {true, (Security.Configured & Bit(SecurityService::MemoryIntegrity)) != 0};
    }
    if (Security.PolicyHvci.Present) {
        return {true, On(Security.PolicyHvci, 1, 2)};
    }
    return {Security.HvciEnabled.Present, On(Security.HvciEnabled, 1)};
}

Tri VbsLocked(const Vbs& Security)
{
    const bool locked = On(Security.Locked, 1) || On(Security.HvciLocked, 1) || On(Security.LsaCfgFlags, 1) ||
                        On(Security.PolicyHvci, 1) || On(Security.PolicyLsaCfgFlags, 1);
    const bool known = Security.Locked.Present || Security.HvciLocked.Present || Security.LsaCfgFlags.Present ||
                       Security.PolicyHvci.Present || Security.PolicyLsaCfgFlags.Present;
    return {known, locked};
}

Tri VbsRunning(const Vbs& Security)
{
    return {Security.StatusRead, Security.StatusRead && Security.Status == 2};
}

Tri ServiceRunning(const Vbs& Security, SecurityService Service)
{
    return {Security.StatusRead, (Security.Running & Bit(Service)) != 0};
}

bool SetByPolicy(const Vbs& Security)
{
    return On(Security.PolicyEnabled, 1) || On(Security.PolicyHvci, 1, 2) || On(Security.PolicyLsaCfgFlags, 1, 2);
}

const wchar_t* LaunchSettingName(LaunchSetting Setting)
{
    constexpr const wchar_t* names[] = {nullptr, L"absent", L"off", L"auto", L"other"};
    return names[static_cast<unsigned>(Setting)];
}

bool SomethingStartsTheHypervisor(const WindowsSide& Side)
{
    for (const OptionalFeature feature : {OptionalFeature::HyperV, OptionalFeature::VirtualMachinePlatform,
                                          OptionalFeature::HypervisorPlatform, OptionalFeature::Sandbox,
                                          OptionalFeature::ApplicationGuard}) {
        if (Side.State(feature) == FeatureState::Enabled) {
            return true;
        }
    }
    const Vbs& security = Side.Security;
    return VbsConfigured(security).Value || CredentialGuardConfigured(security).Value ||
           MemoryIntegrityConfigured(security).Value;
}

bool ShouldReadLaunchEvents(const WindowsSide& Side, bool HypervisorRuns)
{
    const bool unknown = Side.State(OptionalFeature::HyperV) == FeatureState::NotRead;
    return !HypervisorRuns && (unknown || SomethingStartsTheHypervisor(Side));
}

FixedText<256> LaunchEventQuery(unsigned long long BootTime)
{
    FixedText<256> query;
    query.Append("*[System[Provider[@Name='Microsoft-Windows-Hyper-V-Hypervisor'] and Execution[@ProcessID=4] and "
                 "TimeCreated[@SystemTime>='");
    query.Append(Iso8601(BootTime).View());
    query.Append("']]]");
    return query;
}

bool LaunchFailed(const LaunchEvent& Launch)
{
    return Launch.Found && (Launch.Id == LaunchDisabledEvent || (Launch.Level >= 1 && Launch.Level <= 2));
}
