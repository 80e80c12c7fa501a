// What runs here, for each kind of program: one table of Windows' sides on
// top of the verdict's findings, one of the hosts a guest may have; then how
// Windows' own answers are read.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "operator/decisions/what_runs.h"

namespace {

using enum FeatureState;
using Finding::WindowsHypervisor, Finding::HostPasses, Finding::HostDoesNotPass, Finding::FirmwareDisabled,
    Finding::InUse, Finding::NestedRoot, Finding::NotX64;
constexpr Finding Ready = Finding::Enabled;
constexpr unsigned long Home = 0x65, Pro = 0x30, Server = 0x08;

struct Side {
    unsigned long Product;
    std::vector<FeatureState> Features;  // Hyper-V, VMP, WHP, Sandbox, WSL, Application Guard
    Platform Whp = Platform::NotAvailable;
    unsigned long Event = 0, Level = 2;  // the launch event found (0 for none) and its level
    LaunchSetting Launch = LaunchSetting::NotRead;
};

MachineFacts On(const Side& With, const std::function<void(MachineFacts&)>& Also = nullptr)
{
    MachineFacts facts;
    facts.Processor.Vendor.Append(L"GenuineIntel");
    facts.Cpu.SvmKnown = facts.Cpu.Nx = true;
    facts.Side.ProductType = With.Product;
    for (unsigned i = 0; i < With.Features.size(); ++i) {
        facts.Side.Features[i] = With.Features[i];
    }
    facts.Side.FeaturesError = With.Features.empty() ? 740 : 0;
    facts.Side.Whp = With.Whp;
    facts.Side.HypervisorLaunch = With.Launch;
    facts.Side.Launch = {true, With.Event != 0, With.Event, With.Level, {}};
    facts.Side.Launch.Text.Append(L"The hypervisor did not start: SLAT is missing.");
    if (Also) {
        Also(facts);
    }
    return facts;
}

Verdict Found(Finding What, bool NoSlat = false, bool Vmx = true)
{
    Verdict verdict;
    verdict.Found = What;
    verdict.SlatMissing = NoSlat;
    verdict.Vmx = Vmx;
    return verdict;
}

// Expected per program: 'R' ready, 'N' needs, 'X' not possible, '?' unknown; the blocker; words the step says
// and words it must not say.
struct Expect {
    char State;
    const wchar_t* Blocker = nullptr;
    const wchar_t* Says = nullptr;
    const wchar_t* Denies = nullptr;
};

struct Row {
    const char* Case;
    MachineFacts Facts;
    Verdict Result;
    std::vector<Expect> Programs;  // Hyper-V, WSL 2, Sandbox, WHP programs, own-hypervisor programs; fewer: unchecked
};

std::vector<Row> Rows()
{
    const std::vector<FeatureState> allOn = {Enabled, Enabled, Enabled, Enabled, Enabled, Enabled};
    const std::vector<FeatureState> allOff = {Disabled, Disabled, Disabled, Disabled, Disabled, Disabled};
    const std::vector<FeatureState> homeVmp = {Absent, Enabled, Disabled, Absent, Enabled};
    const std::vector<FeatureState> hyperVOnly = {Enabled, Disabled, Disabled, Disabled, Disabled};
    const Expect firmware{'N', L"firmware-disabled", L"korimath firmware-setup"};
    const Expect noSlat{'X', L"no-slat"};
    const Expect readyHaxm{'R', nullptr, L"HAXM is no longer developed"};
    const auto nx = [](bool Cpuid) { return [=](MachineFacts& F) { F.Windows.NxEnabled = false, F.Cpu.Nx = Cpuid; }; };
    const auto running = [](unsigned long Services) { return [=](MachineFacts& F) {
        F.Side.Security.StatusRead = true, F.Side.Security.Status = 2, F.Side.Security.Running = Services; }; };
    return {
        {"pro, everything on, hypervisor running", On({Pro, allOn, Platform::Usable}), Found(WindowsHypervisor),
         {{'R'}, {'R'}, {'R'}, {'R'},
          {'N', L"windows-hypervisor-running", L"Hyper-V (its virtual machines stop); Virtual Machine Platform (WSL 2 "
                                               L"stops); Windows Hypervisor Platform (its programs stop); Windows "
                                               L"Sandbox; Microsoft Defender Application Guard.",
           L"with the Windows Hypervisor Platform feature on"}}},
        {"home with virtual machine platform, memory integrity", On({Home, homeVmp, Platform::Usable}, running(4)),
         Found(WindowsHypervisor),
         {{'X', L"edition-unsupported", L"Home editions"}, {'R'}, {'X', L"edition-unsupported"}, {'R'},
          {'N', L"windows-hypervisor-running", L"Platform mode (VirtualBox 6 and later, VMware Workstation 15.5.5 and "
                                               L"later, the Android Emulator), with the Windows Hypervisor Platform "
                                               L"feature on, which keeps every protection. Otherwise turn off what keeps "
                                               L"the hypervisor running here, each at a cost, and restart: memory "
                                               L"integrity (Windows Security"}}},
        {"pro, everything off", On({Pro, allOff}), Found(Ready),
         {{'N', L"feature-disabled", L"featurename:Microsoft-Hyper-V-All /all\")"},
          {'N', L"feature-disabled", L"featurename:VirtualMachinePlatform /all\")"},
          {'N', L"feature-disabled", L"featurename:Containers-DisposableClientVM /all"},
          {'N', L"feature-disabled", L"/all\"), then restart: these programs then run here through Windows' hypervisor."},
          readyHaxm}},
        {"server: the role's own step, no Sandbox", On({Server, {Disabled, Disabled, Disabled, Absent}}), Found(Ready),
         {{'N', L"feature-disabled", L"\"Add Roles and Features\", or from an elevated prompt \"dism /online "
                                     L"/enable-feature /featurename:Microsoft-Hyper-V /all\")"},
          {'N'}, {'X', L"edition-unsupported", L"Windows Server does not have Windows Sandbox"}}},
        {"launch turned off (event 5)", On({Pro, hyperVOnly, Platform::NotUsable, 5}), Found(Ready),
         {{'N', L"hypervisor-launch-disabled", L"(event 5, \"Hyper-V launch aborted due to auto-launch being "
                                               L"disabled\"): from an elevated prompt, \"bcdedit /set "
                                               L"hypervisorlaunchtype auto\""},
          {'N', L"feature-disabled"}}},
        {"the boot configuration says Off", On({Pro, allOn, Platform::NotUsable, 0, 2, LaunchSetting::Off}), Found(Ready),
         {{'N', L"hypervisor-launch-disabled", L"(hypervisorlaunchtype Off): from an elevated prompt"}}},
        {"the boot configuration has no setting", On({Pro, allOn, Platform::NotUsable, 0, 2, LaunchSetting::Absent}),
         Found(Ready), {{'N', L"hypervisor-launch-disabled", L"(no hypervisorlaunchtype in {current})"}}},
        {"launch failed (an error event)", On({Pro, allOn, Platform::NotUsable, 41}), Found(Ready),
         {{'N', L"hypervisor-launch-failed", L"event 41: \"The hypervisor did not start: SLAT is missing.\""},
          {'N', L"hypervisor-launch-failed"}, {'N'}, {'N', L"hypervisor-launch-failed"}, readyHaxm}},
        {"an informational event is no failure", On({Pro, allOn, Platform::NotUsable, 1, 4, LaunchSetting::Auto}),
         Found(Ready), {{'N', L"hypervisor-not-running", L"Hyper-V is on: restart Windows."}}},
        {"restart pending", On({Pro, {Enabled, RestartPending, RestartPending, Absent, Disabled}, Platform::Usable}),
         Found(WindowsHypervisor), {{'R'}, {'N', L"restart-pending"}, {'X', L"feature-absent"}, {'R'}, {'N'}}},
        {"features not read, hypervisor running", On({Pro, {}, Platform::Usable}), Found(WindowsHypervisor),
         {{'?', L"features-not-read", L"run korimath elevated"}, {'?'}, {'?'}, {'R'},
          {'N', L"windows-hypervisor-running", L"not known: run korimath elevated"}}},
        {"features not read, server, not running", On({Server, {}}), Found(Ready),
         {{'?', L"features-not-read"}, {'?'}, {'X', L"edition-unsupported"}, {'N', L"feature-disabled"}}},
        {"features not read, home, not running", On({Home, {}}), Found(Ready),
         {{'X', L"edition-unsupported"}, {'?', L"features-not-read", L"run korimath elevated"}, {'X'},
          {'N', L"feature-disabled", L"featurename:HypervisorPlatform /all\"), then restart"}, readyHaxm}},
        {"keepers read elevated: none named", On({Pro, allOff, Platform::Usable}), Found(WindowsHypervisor),
         {{'N'}, {'N'}, {'N'}, {'R'}, {'N', L"windows-hypervisor-running", L"restart: nothing korimath can name.",
                                       L"not known"}}},
        {"keepers: Windows' default, policy, System Guard, the boot configuration",
         On({Pro, allOff, Platform::Usable, 0, 2, LaunchSetting::Auto}, [&](MachineFacts& F) {
             running(0xA)(F);
             F.Side.Security.PolicyHvci = {true, 2};
             F.Side.Security.Locked = {true, 0};
         }),
         Found(WindowsHypervisor),
         {{'N'}, {'N'}, {'N'}, {'R'},
          {'N', L"windows-hypervisor-running", L"Credential Guard, on by Windows' own default since Windows 11 22H2 "
                                               L"(without it, stolen sign-in secrets are easier to reuse); System Guard "
                                               L"Secure Launch (without it, the boot is measured less strictly); "
                                               L"virtualization-based security set by Group Policy or Intune, which "
                                               L"only its administrator can change; hypervisorlaunchtype Auto in the "
                                               L"boot configuration.",
           L"locked in UEFI"}}},
        {"credential guard locked in UEFI", On({Pro, allOn, Platform::Usable}, [&](MachineFacts& F) {
             running(2)(F);
             F.Side.Security.LsaCfgFlags = {true, 1};
         }),
         Found(WindowsHypervisor),
         {{'R'}, {'R'}, {'R'}, {'R'}, {'N', L"windows-hypervisor-running", L"locked in UEFI", L"Windows' own default"}}},
        {"guest that passes it through", On({Pro, allOn, Platform::NotUsable}), Found(HostPasses),
         {{'N', L"host-nesting-incomplete", L"although the host passes VT-x or AMD-V through"}, {'N'}, {'N'}, {'N'},
          readyHaxm}},
        {"guest that does not", On({Pro, allOn}), Found(HostDoesNotPass),
         {{'N', L"host-does-not-pass-through", L"where the host offers it"}, {'N'}, {'N'}, {'N'},
          {'N', L"host-does-not-pass-through"}}},
        {"disabled in firmware", On({Pro, allOn}), Found(FirmwareDisabled), {firmware, firmware, firmware, firmware, firmware}},
        {"disabled in firmware, amd", On({Pro, allOn}), Found(FirmwareDisabled, false, false),
         {{'N', L"firmware-disabled", L"Turn on AMD-V (\"SVM Mode\")"}}},
        {"a mac", On({Pro, allOn}, [](MachineFacts& F) { F.System.Manufacturer.Append(L"Apple Inc."); }),
         Found(FirmwareDisabled), {{'N', L"firmware-disabled", L"Boot Camp Control Panel > Startup Disk", L"korimath"}}},
        {"no SLAT", On({Pro, allOn}), Found(Ready, true), {noSlat, noSlat, noSlat, noSlat, {'R'}}},
        {"DEP off in firmware, intel", On({Pro, allOn}, nx(false)), Found(Ready),
         {{'N', L"nx-disabled-in-firmware", L"\"Execute Disable Bit\" (XD) in firmware setup"},
          {'N', L"nx-disabled-in-firmware", L"needs hardware DEP"}, {'N'}, {'N'}, readyHaxm}},
        {"DEP off in firmware, amd", On({Pro, allOn}, [&](MachineFacts& F) {
             nx(false)(F);
             F.Processor.Vendor.Clear();
             F.Processor.Vendor.Append(L"AuthenticAMD");
         }),
         Found(Ready, false, false),
         {{'N', L"nx-disabled-in-firmware", L"\"NX Mode\""}, {'N'}, {'N'}, {'N'},
          {'R', nullptr, L"HAXM runs on Intel processors only"}}},
        {"DEP off by Windows", On({Pro, allOn}, nx(true)), Found(Ready),
         {{'N', L"nx-disabled-by-windows", L"\"bcdedit /set {current} nx OptIn\""}}},
        {"another hypervisor uses VT-x", On({Pro, hyperVOnly}), Found(InUse),
         {{'N', L"hypervisor-not-running"}, {'N'}, {'N'}, {'N'}, {'N', L"other-hypervisor-running", L"close VMware, VirtualBox or the Android emulator first. Intel HAXM"}}},
        {"nested root", On({Pro, allOn, Platform::Usable}), Found(NestedRoot),
         {{'R'}, {'R'}, {'R'}, {'R'}, {'X', L"windows-hypervisor-running"}}},
        {"windows on arm: its features decide", On({Pro, hyperVOnly}), Found(NotX64),
         {{'R'}, {'N', L"feature-disabled"}, {'N'}, {'N'}, {'X', L"not-x64", L"Hyper-V, WSL 2 and the Windows Hypervisor"}}},
    };
}

void Check(const char* Case, const WhatRuns& Runs, const std::vector<Expect>& Programs)
{
    for (unsigned i = 0; i < Programs.size(); ++i) {
        const ProgramRow& got = Runs.Rows[i];
        const Expect& want = Programs[i];
        const std::string where = std::string(Case) + ", program " + std::to_string(i);
        const std::wstring step(got.Step.View());
        EXPECT_EQ("?RNX"[static_cast<unsigned>(got.State)], want.State) << where;
        EXPECT_EQ(got.Blocker == nullptr, got.State == Readiness::Ready) << where;
        if (want.Blocker != nullptr) {
            EXPECT_EQ(std::wstring(got.Blocker != nullptr ? got.Blocker : L"(none)"), want.Blocker) << where;
        }
        EXPECT_TRUE(want.Says == nullptr || step.find(want.Says) != std::wstring::npos)
            << where << ": " << std::string(step.begin(), step.end());
        EXPECT_TRUE(want.Denies == nullptr || step.find(want.Denies) == std::wstring::npos) << where;
        EXPECT_FALSE(got.Step.Truncated || step.starts_with(L" ")) << where;
    }
}

TEST(WhatRuns, EveryProgramOnEveryKindOfWindows)
{
    for (const Row& row : Rows()) {
        const WhatRuns runs = DecideWhatRuns(row.Facts, row.Result);
        Check(row.Case, runs, row.Programs);
        const bool guest = row.Result.Found == HostPasses || row.Result.Found == HostDoesNotPass;
        EXPECT_EQ(runs.HostNote.Length != 0, guest) << row.Case;
    }
    MachineFacts amd = On({Pro, {}});
    amd.Processor.Vendor.Clear();
    EXPECT_EQ(ProgramName(Program::OwnHypervisorPrograms, amd).find("HAXM"), std::string_view::npos);
    EXPECT_NE(ProgramName(Program::OwnHypervisorPrograms, On({Pro, {}})).find("HAXM"), std::string_view::npos);
}

// A guest whose host does not pass the feature through: the step its host documents, or that there is none.
TEST(WhatRuns, EachHostsOwnStep)
{
    const char* hv = "Microsoft Hv";
    const struct {
        const char* Vendor;  // CPUID's hypervisor vendor; nullptr: one that hides itself
        const wchar_t *Maker, *Product, *AssetTag;
        char State;
        const wchar_t* Says;
    } hosts[] = {
        {hv, L"", L"", L"", 'N', L"Set-VMProcessor -VMName <name> -ExposeVirtualizationExtensions $true"},
        {"VMwareVMware", L"", L"", L"", 'N', L"\"Virtualize Intel VT-x/EPT or AMD-V/RVI\""},
        {"VBoxVBoxVBox", L"", L"", L"", 'N', L"--nested-hw-virt on"},
        {"KVMKVMKVM", L"", L"", L"", 'N', L"kvm_intel (kvm_amd on AMD) with nested=1"},
        {"XenVMMXenVMM", L"", L"", L"", 'N', L"\"nestedhvm=1\""},
        {nullptr, L"Parallels Software International Inc.", L"Parallels Virtual Platform", L"", 'N', L"\"Enable nested"},
        {"bhyve bhyve ", L"", L"", L"", 'X', L"no nested virtualization"},
        {"ACRNACRNACRN", L"", L"", L"", 'X', L"ACRN offers its guests no nested virtualization"},
        {"QNXQVMBSQG", L"", L"", L"", 'X', L"QNX's hypervisor offers its guests no nested virtualization"},
        {hv, L"Microsoft Corporation", L"Virtual Machine", L"7783-7084-3265-9085-8269-3286-77", 'N', L"Dv5 and Ev5"},
        {"KVMKVMKVM", L"Amazon EC2", L"m8i.large", L"", 'N', L"this instance type: with the instance stopped"},
        {"KVMKVMKVM", L"Amazon EC2", L"c8i-flex.large", L"", 'N', L"this instance type: with the instance stopped"},
        {"KVMKVMKVM", L"Amazon EC2", L"t3a.large", L"", 'N', L"only on C8i, M8i and R8i instances"},
        {"KVMKVMKVM", L"Amazon EC2", L"m8id.large", L"", 'N', L"only on C8i, M8i and R8i instances"},
        {"KVMKVMKVM", L"Amazon EC2", L"m8i", L"", 'N', L"only on C8i, M8i and R8i instances"},
        {"KVMKVMKVM", L"Google", L"Google Compute Engine", L"", 'X', L"Microsoft Hyper-V is not supported there"},
    };
    for (const auto& host : hosts) {
        MachineFacts facts = On({Pro, {Enabled, Enabled}});
        facts.Hypervisor.Present = host.Vendor != nullptr;
        const std::string vendor = host.Vendor != nullptr ? host.Vendor : "";
        facts.Hypervisor.Vendor.Append(std::wstring(vendor.begin(), vendor.end()));
        facts.System.Manufacturer.Append(host.Maker);
        facts.System.Product.Append(host.Product);
        facts.System.AssetTag.Append(host.AssetTag);
        const Verdict verdict = DecideVerdict(facts);
        const Expect want{host.State, host.State == 'X' ? L"host-offers-no-nesting" : L"host-does-not-pass-through",
                          host.Says};
        Check(host.Vendor ? host.Vendor : "hidden", DecideWhatRuns(facts, verdict), {want, want});
        EXPECT_NE(std::wstring(verdict.Text.View()).find(host.Says), std::wstring::npos) << "the verdict says it too";
        EXPECT_EQ(std::wstring(Blocker(facts, verdict)), want.Blocker);
        EXPECT_EQ(DecideWhatRuns(facts, verdict).HostNote.View().find(L" under ") != std::wstring::npos, facts.Hypervisor.Present);
    }
}

TEST(WindowsSide, EditionsAndFeatureStates)
{
    // Every product type GetProductInfo documents that korimath tells apart; 0x1C: what Wine answers.
    const std::pair<Edition, std::vector<unsigned long>> editions[] = {
        {Edition::Home, {0x02, 0x03, 0x05, 0x0B, 0x1A, 0x2F, 0x42, 0x43, 0x44, 0x62, 0x63, 0x64, 0x65}},
        {Edition::Pro, {0x30, 0x31, 0x45, 0x67, 0xA1, 0xA2, 0xA4, 0xA5}},
        {Edition::Enterprise, {0x04, 0x1B, 0x46, 0x48, 0x54, 0x7D, 0x7E, 0x81, 0x82, 0xAB, 0xAC, 0xAF, 0xBC, 0xBF}},
        {Edition::Education, {0x79, 0x7A}},
        {Edition::Server, {0x07, 0x08, 0x09, 0x0A, 0x0C, 0x0D, 0x0E, 0x0F, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                           0x18, 0x19, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29,
                           0x2B, 0x2C, 0x2D, 0x2E, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x3B, 0x3C, 0x3D, 0x3E,
                           0x3F, 0x40, 0x4C, 0x4D, 0x4F, 0x50, 0x5F, 0x60, 0x91, 0x92}},
        {Edition::HyperVServer, {0x2A}},
        {Edition::Other, {0x01, 0x06, 0x10, 0x1C, 0x47, 0x68, 0x77, 0x7B, 0x83, 0x85}},
        {Edition::Unknown, {0}}};
    for (const auto& [edition, types] : editions) {
        for (const unsigned long type : types) {
            EXPECT_EQ(EditionOf(type), edition) << std::hex << type;
        }
    }
    // NotPresent, UninstallPending, Staged, Removed, Installed, InstallPending, Superseded, PartiallyInstalled
    const FeatureState dism[] = {Disabled, RestartPending, Disabled, Disabled, Enabled, RestartPending, Disabled, Disabled};
    for (int state = 0; state < 8; ++state) {
        EXPECT_EQ(FeatureStateOf(state), dism[state]) << state;
    }
}

// What runs, what is configured, what is locked: Windows' own answer first, then the policy value, then the local.
TEST(WindowsSide, VirtualizationBasedSecurityAndTheLaunchEvents)
{
    const auto tri = [](Tri Value) { return Value.Known ? (Value.Value ? '1' : '0') : (Value.Value ? '!' : '?'); };
    const struct {
        void (*Set)(Vbs&);
        const char* Expected;  // VBS, Credential Guard, memory integrity configured; locked; VBS running; by policy
    } rows[] = {
        {[](Vbs&) {}, "?????0"},
        {[](Vbs& V) { V.StatusRead = true, V.Status = 1, V.Configured = 4; }, "101?00"},  // memory integrity alone
        {[](Vbs& V) { V.StatusRead = true, V.Status = 2, V.Configured = 2; }, "110?10"},
        {[](Vbs& V) { V.Status = 2; }, "?????0"},  // not read: nothing known to run
        {[](Vbs& V) { V.Enabled = {true, 1}, V.PolicyEnabled = {true, 0}; }, "0????0"},
        {[](Vbs& V) { V.Enabled = V.HvciEnabled = V.LsaCfgFlags = {true, 1}; }, "1111?0"},
        {[](Vbs& V) { V.LsaCfgFlags = {true, 2}, V.PolicyLsaCfgFlags = {true, 0}; }, "?0?0?0"},
        {[](Vbs& V) { V.HvciEnabled = {true, 1}, V.PolicyHvci = {true, 0}; }, "??00?0"},
        {[](Vbs& V) { V.PolicyHvci = {true, 2}; }, "??10?1"},
        {[](Vbs& V) { V.PolicyHvci = {true, 1}; }, "??11?1"},
        {[](Vbs& V) { V.Locked = {true, 1}; }, "???1?0"},
        {[](Vbs& V) { V.HvciLocked = {true, 1}; }, "???1?0"},
        {[](Vbs& V) { V.PolicyEnabled = {true, 1}; }, "1????1"},
        {[](Vbs& V) { V.PolicyLsaCfgFlags = {true, 1}; }, "?1?1?1"},
        {[](Vbs& V) { V.PolicyLsaCfgFlags = {true, 2}; }, "?1?0?1"},
    };
    for (const auto& row : rows) {
        Vbs vbs;
        row.Set(vbs);
        const std::string got = {tri(VbsConfigured(vbs)), tri(CredentialGuardConfigured(vbs)),
                                 tri(MemoryIntegrityConfigured(vbs)), tri(VbsLocked(vbs)), tri(VbsRunning(vbs)),
                                 SetByPolicy(vbs) ? '1' : '0'};
        EXPECT_EQ(got, row.Expected) << (&row - rows);
    }
    // Launch events are read where no hypervisor runs and something asks for it, or the features are not known.
    WindowsSide side;
    side.Security.StatusRead = true;
    side.Security.Configured = 1U << 1;
    EXPECT_TRUE(!ShouldReadLaunchEvents(side, true) && ShouldReadLaunchEvents(side, false));
    side.Security = Vbs{};
    EXPECT_TRUE(ShouldReadLaunchEvents(side, false)) << "the features not read";
    side.Features[0] = Disabled;
    EXPECT_FALSE(ShouldReadLaunchEvents(side, false)) << "nothing asks the hypervisor to start";
    side.Features[1] = Enabled;
    EXPECT_TRUE(ShouldReadLaunchEvents(side, false)) << "the Virtual Machine Platform does";
    EXPECT_EQ(std::wstring(LaunchEventQuery(134410977450000000).View()),
              L"*[System[Provider[@Name='Microsoft-Windows-Hyper-V-Hypervisor'] and Execution[@ProcessID=4] and "
              L"TimeCreated[@SystemTime>='2026-12-07T06:15:45Z']]]");
    for (const auto& [id, level, failed] : {std::tuple{5UL, 4UL, true}, {41UL, 2UL, true}, {1UL, 1UL, true},
                                            {1UL, 4UL, false}, {2UL, 3UL, false}}) {
        EXPECT_EQ(LaunchFailed(LaunchEvent{true, true, id, level, {}}), failed) << id << " " << level;
    }
}

}  // namespace
