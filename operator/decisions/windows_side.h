// What this Windows has and runs beside the processor: its edition, the
// optional features that start Microsoft's hypervisor, whether the Windows
// Hypervisor Platform answers, virtualization-based security as configured
// (local and policy values) and as running (Win32_DeviceGuard), the
// hypervisor's launch setting in the boot configuration, and its own account
// of its last launch. Read by operator/win32; decided here.
#pragma once

#include "operator/decisions/report_freshness.h"

enum class Edition { Unknown, Home, Pro, Enterprise, Education, Server, HyperVServer, Other };

// GetProductInfo's product type (Microsoft Learn, GetProductInfo: the
// PRODUCT_* values of winnt.h); 0 when Windows would not say.
Edition EditionOf(unsigned long ProductType);
const wchar_t* EditionName(Edition Which);  // "home", "pro", ...; nullptr when unknown
inline bool IsServer(Edition Which)
{
    return Which == Edition::Server || Which == Edition::HyperVServer;
}

enum class FeatureState { NotRead, Enabled, Disabled, Absent, RestartPending };

// DismPackageFeatureState (dismapi.h): Installed is enabled, InstallPending
// and UninstallPending wait for a restart, the rest (Superseded too) disabled.
FeatureState FeatureStateOf(int DismState);
const wchar_t* FeatureStateName(FeatureState State);  // nullptr when not read

enum class OptionalFeature { HyperV, VirtualMachinePlatform, HypervisorPlatform, Sandbox, Wsl, ApplicationGuard, Count };
constexpr unsigned OptionalFeatureCount = static_cast<unsigned>(OptionalFeature::Count);

// A registry DWORD that may be absent: absent is not "off", since Windows 11
// enables some of these by default without writing them.
struct Setting {
    bool Present = false;
    unsigned long Value = 0;
};

// Win32_DeviceGuard's numbers for the security services it lists.
enum class SecurityService : unsigned { CredentialGuard = 1, MemoryIntegrity = 2, SystemGuard = 3 };

struct Vbs {
    Setting Enabled;         // DeviceGuard\EnableVirtualizationBasedSecurity
    Setting Locked;          // DeviceGuard\Locked
    Setting HvciEnabled;     // DeviceGuard\Scenarios\HypervisorEnforcedCodeIntegrity\Enabled
    Setting HvciLocked;      // ...\HypervisorEnforcedCodeIntegrity\Locked
    Setting LsaCfgFlags;     // Lsa\LsaCfgFlags: 1 Credential Guard with UEFI lock, 2 without
    // Policies\Microsoft\Windows\DeviceGuard, as Group Policy and Intune
    // write them; they win over the local values.
    Setting PolicyEnabled;      // EnableVirtualizationBasedSecurity: 1 on
    Setting PolicyHvci;         // HypervisorEnforcedCodeIntegrity: 1 with UEFI lock, 2 without
    Setting PolicyLsaCfgFlags;  // LsaCfgFlags: 1 with UEFI lock, 2 without
    // Win32_DeviceGuard, what Windows says runs.
    bool StatusRead = false;
    unsigned long StatusError = 0;  // why not (an HRESULT)
    unsigned long Status = 0;       // VirtualizationBasedSecurityStatus: 0 off, 1 enabled, 2 running
    unsigned long Configured = 0;   // SecurityServicesConfigured, service n as bit n
    unsigned long Running = 0;      // SecurityServicesRunning, likewise
};

// A tri-state for JSON: Known false is null.
struct Tri {
    bool Known = false;
    bool Value = false;
};
// As configured: what Windows says where it was asked, else the policy
// value, else the local one.
Tri VbsConfigured(const Vbs& Security);
Tri CredentialGuardConfigured(const Vbs& Security);
Tri MemoryIntegrityConfigured(const Vbs& Security);
Tri VbsLocked(const Vbs& Security);  // a UEFI lock: a registry change alone does not turn it off
Tri VbsRunning(const Vbs& Security);
Tri ServiceRunning(const Vbs& Security, SecurityService Service);
bool SetByPolicy(const Vbs& Security);  // Group Policy or Intune turns some of it on

enum class Platform { NotAvailable, Usable, NotUsable };  // winhvplatform.dll, WHvCapabilityCodeHypervisorPresent

// hypervisorlaunchtype in the boot configuration's {current} loader.
enum class LaunchSetting { NotRead, Absent, Off, Auto, Other };
const wchar_t* LaunchSettingName(LaunchSetting Setting);  // "absent", "off", "auto", "other"; nullptr when not read

struct LaunchEvent {
    bool Read = false;   // the System log was asked
    bool Found = false;  // Microsoft-Windows-Hyper-V-Hypervisor logged something this boot
    unsigned long Id = 0;
    unsigned long Level = 0;  // 1 critical, 2 error, 3 warning, 4 information
    FixedText<1024> Text;  // Windows' own message, localized: shown, never parsed
};

struct WindowsSide {
    unsigned long ProductType = 0;
    FeatureState Features[OptionalFeatureCount] = {};
    unsigned long FeaturesError = 0;  // why the features were not read (740: not elevated)
    Platform Whp = Platform::NotAvailable;
    Vbs Security;
    LaunchSetting HypervisorLaunch = LaunchSetting::NotRead;
    unsigned long HypervisorLaunchError = 0;
    LaunchEvent Launch;
    FeatureState State(OptionalFeature Which) const { return Features[static_cast<unsigned>(Which)]; }
};

// The launch events are read only when Microsoft's hypervisor is not
// running and something should have started it, or the features are unknown.
bool ShouldReadLaunchEvents(const WindowsSide& Side, bool HypervisorRuns);

// The System log's query for the hypervisor's events since BootTime (FILETIME).
FixedText<256> LaunchEventQuery(unsigned long long BootTime);

// Whether Microsoft's hypervisor should have started: a feature that starts
// it is enabled, or virtualization-based security is configured on. Only
// then are the launch events worth reading.
bool SomethingStartsTheHypervisor(const WindowsSide& Side);

// The hypervisor's events come from the System process (process id 4), not
// from a program that uses its provider's name.
constexpr bool FromSystemProcess(unsigned long ProcessId)
{
    return ProcessId == 4;
}

// Microsoft documents event 5 of Microsoft-Windows-Hyper-V-Hypervisor as
// "Hyper-V launch aborted due to auto-launch being disabled".
constexpr unsigned long LaunchDisabledEvent = 5;

// A launch that failed: event 5, or an event of level critical or error. An
// informational event (the hypervisor started, a partition was created) is
// not "the launch failed".
bool LaunchFailed(const LaunchEvent& Launch);
