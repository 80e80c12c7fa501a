// What this Windows has and runs beside the processor: its edition, the
// optional features that start Microsoft's hypervisor, whether the Windows
// Hypervisor Platform answers, virtualization-based security as configured
// and as running, and the hypervisor's own account of its last launch. Read
// by operator/win32/windows_side.cpp; decided here.
#pragma once

#include "operator/decisions/report_freshness.h"

enum class Edition { Unknown, Home, Pro, Enterprise, Education, Server, Other };

// GetProductInfo's product type (Microsoft Learn, GetProductInfo: the
// PRODUCT_* values of winnt.h); 0 when Windows would not say.
Edition EditionOf(unsigned long ProductType);
const wchar_t* EditionName(Edition Which);  // "home", "pro", ...; nullptr when unknown

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
    bool RunningKnown = false;
    bool Running = false;    // IsEnclaveTypeSupported(ENCLAVE_TYPE_VBS)
};

// A tri-state for JSON: Known false is null.
struct Tri {
    bool Known = false;
    bool Value = false;
};
Tri VbsConfigured(const Vbs& Security);
Tri CredentialGuardConfigured(const Vbs& Security);
Tri MemoryIntegrityConfigured(const Vbs& Security);
Tri VbsLocked(const Vbs& Security);  // a UEFI lock: a registry change alone does not turn it off

enum class Platform { NotAvailable, Usable, NotUsable };  // winhvplatform.dll, WHvCapabilityCodeHypervisorPresent

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
    LaunchEvent Launch;
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
