#include "operator/decisions/windows_side.h"

namespace {

// winnt.h, PRODUCT_*: GetProductInfo (Microsoft Learn).
struct Product {
    unsigned long Type;
    Edition Is;
};
constexpr Product Products[] = {
    {0x65, Edition::Home},       {0x62, Edition::Home},       {0x63, Edition::Home},  // CORE, _N, _COUNTRYSPECIFIC
    {0x64, Edition::Home},                                                            // CORE_SINGLELANGUAGE
    {0x30, Edition::Pro},        {0x31, Edition::Pro},        {0xA1, Edition::Pro},   // PROFESSIONAL, _N, PRO_WORKSTATION
    {0xA2, Edition::Pro},        {0xA4, Edition::Pro},        {0xA5, Edition::Pro},   // ..._N, PRO_FOR_EDUCATION, _N
    {0x04, Edition::Enterprise}, {0x1B, Edition::Enterprise}, {0x48, Edition::Enterprise},  // _N, _EVALUATION
    {0x7D, Edition::Enterprise}, {0x7E, Edition::Enterprise}, {0xAB, Edition::Enterprise},  // _S (LTSC), _S_N, _G
    {0x79, Edition::Education},  {0x7A, Edition::Education},
    {0x07, Edition::Server},     {0x08, Edition::Server},     {0x0C, Edition::Server},  // STANDARD, DATACENTER, _CORE
    {0x0D, Edition::Server},     {0x4F, Edition::Server},     {0x50, Edition::Server},  // _CORE, _EVALUATION
    {0x91, Edition::Server},     {0x92, Edition::Server},     // DATACENTER_A_SERVER_CORE, STANDARD_A_SERVER_CORE
};

}  // namespace

Edition EditionOf(unsigned long ProductType)
{
    if (ProductType == 0) {
        return Edition::Unknown;
    }
    for (const Product& product : Products) {
        if (product.Type == ProductType) {
            return product.Is;
        }
    }
    return Edition::Other;
}

const wchar_t* EditionName(Edition Which)
{
    constexpr const wchar_t* names[] = {nullptr, L"home", L"pro", L"enterprise", L"education", L"server", L"other"};
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
    return {Security.Enabled.Present, Security.Enabled.Present && Security.Enabled.Value == 1};
}

Tri CredentialGuardConfigured(const Vbs& Security)
{
    const unsigned long flags = Security.LsaCfgFlags.Value;
    return {Security.LsaCfgFlags.Present, Security.LsaCfgFlags.Present && (flags == 1 || flags == 2)};
}

Tri MemoryIntegrityConfigured(const Vbs& Security)
{
    return {Security.HvciEnabled.Present, Security.HvciEnabled.Present && Security.HvciEnabled.Value == 1};
}

Tri VbsLocked(const Vbs& Security)
{
    const bool locked = (Security.Locked.Present && Security.Locked.Value == 1) ||
                        (Security.HvciLocked.Present && Security.HvciLocked.Value == 1) ||
                        (Security.LsaCfgFlags.Present && Security.LsaCfgFlags.Value == 1);
    const bool known = Security.Locked.Present || Security.HvciLocked.Present || Security.LsaCfgFlags.Present;
    return {known, locked};
}

bool SomethingStartsTheHypervisor(const WindowsSide& Side)
{
    for (const OptionalFeature feature : {OptionalFeature::HyperV, OptionalFeature::VirtualMachinePlatform,
                                          OptionalFeature::HypervisorPlatform, OptionalFeature::Sandbox}) {
        if (Side.Features[static_cast<unsigned>(feature)] == FeatureState::Enabled) {
            return true;
        }
    }
    const Vbs& security = Side.Security;
    return VbsConfigured(security).Value || CredentialGuardConfigured(security).Value ||
           MemoryIntegrityConfigured(security).Value;
}

bool ShouldReadLaunchEvents(const WindowsSide& Side, bool HypervisorRuns)
{
    const bool unknown = Side.Features[static_cast<unsigned>(OptionalFeature::HyperV)] == FeatureState::NotRead;
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
