// What runs here, for each kind of program: one table of Windows' sides on
// top of the verdict's findings; then how Windows' own answers are read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "operator/decisions/what_runs.h"

namespace {

using enum FeatureState;
using Finding::WindowsHypervisor, Finding::HostPasses, Finding::HostDoesNotPass, Finding::FirmwareDisabled,
    Finding::InUse, Finding::NestedRoot;
constexpr Finding Ready = Finding::Enabled;
constexpr unsigned long Home = 0x65, Pro = 0x30;

struct Side {
    unsigned long Product;
    std::vector<FeatureState> Features;  // Hyper-V, VMP, WHP, Sandbox, WSL
    Platform Whp = Platform::NotAvailable;
    unsigned long Event = 0;  // the launch event found, 0 for none
    bool Locked = false;
};

MachineFacts On(const Side& With, bool Integrity = false)
{
    MachineFacts facts;
    facts.Side.ProductType = With.Product;
    for (unsigned i = 0; i < With.Features.size(); ++i) {
        facts.Side.Features[i] = With.Features[i];
    }
    facts.Side.Whp = With.Whp;
    facts.Side.Launch.Read = true;
    facts.Side.Launch.Found = With.Event != 0;
    facts.Side.Launch.Id = With.Event;
    facts.Side.Launch.Text.Append(L"The hypervisor did not start: SLAT is missing.");
    facts.Side.Security.LsaCfgFlags = Setting{With.Locked, 1};
    facts.Windows.MemoryIntegrityRunning = Integrity;
    return facts;
}

Verdict Found(Finding What, bool NoSlat = false)
{
    Verdict verdict;
    verdict.Found = What;
    verdict.SlatMissing = NoSlat;
    return verdict;
}

// Expected per program: 'R' ready, 'N' needs, 'X' not possible, '?' unknown; then the blocker.
struct Expect {
    char State;
    const wchar_t* Blocker = nullptr;
    const wchar_t* Says = nullptr;
};

struct Row {
    const char* Case;
    MachineFacts Facts;
    Verdict Result;
    std::vector<Expect> Programs;  // Hyper-V, WSL 2, Sandbox, WHP programs, own-hypervisor programs
};

std::vector<Row> Rows()
{
    const std::vector<FeatureState> allOn = {Enabled, Enabled, Enabled, Enabled, Enabled};
    const std::vector<FeatureState> homeVmp = {Absent, Enabled, Disabled, Absent, Enabled};
    const std::vector<FeatureState> hyperVOnly = {Enabled, Disabled, Disabled, Disabled, Disabled};
    const Expect firmware{'N', L"firmware-disabled"};
    const Expect noSlat{'X', L"no-slat"};
    return {
        {"pro, everything on, hypervisor running", On({Pro, allOn, Platform::Usable}), Found(WindowsHypervisor),
         {{'R'}, {'R'}, {'R'}, {'R'},
          {'N', L"windows-hypervisor-running", L"Windows Hypervisor Platform mode, which keeps every protection"}}},
        {"home with virtual machine platform, memory integrity", On({Home, homeVmp, Platform::Usable}, true),
         Found(WindowsHypervisor),
         {{'X', L"edition-unsupported", L"Home editions"}, {'R'}, {'X', L"edition-unsupported"},
          {'R'},
          {'N', L"windows-hypervisor-running", L"lowers this machine's protection. What keeps it running here: "
                                               L"memory integrity, Virtual Machine Platform."}}},
        {"launch turned off (event 5)", On({Pro, hyperVOnly, Platform::NotUsable, 5}), Found(Ready),
         {{'N', L"hypervisor-launch-disabled", L"bcdedit /set hypervisorlaunchtype auto"},
          {'N', L"feature-disabled", L"Virtual Machine Platform"}, {'N', L"feature-disabled"},
          {'N', L"feature-disabled"}, {'R'}}},
        {"launch failed (another event)", On({Pro, allOn, Platform::NotUsable, 41}), Found(Ready),
         {{'N', L"hypervisor-launch-failed", L"event 41: \"The hypervisor did not start: SLAT is missing.\""},
          {'N', L"hypervisor-launch-failed"}, {'N'}, {'N', L"hypervisor-launch-failed"}, {'R'}}},
        {"no launch event", On({Pro, allOn, Platform::NotUsable}), Found(Ready),
         {{'N', L"hypervisor-not-running", L"bcdedit /enum {current}"}, {'N'}, {'N'}, {'N'}, {'R'}}},
        {"restart pending", On({Pro, {Enabled, RestartPending, RestartPending, Absent, Disabled}, Platform::Usable}),
         Found(WindowsHypervisor),
         {{'R'}, {'N', L"restart-pending"}, {'X', L"feature-absent"}, {'R'}, {'N'}}},
        {"features not read, hypervisor running", On({Pro, {}, Platform::Usable}), Found(WindowsHypervisor),
         {{'?', nullptr, L"not read"}, {'?'}, {'?'}, {'R'}, {'N', L"windows-hypervisor-running", L"not known"}}},
        {"features not read, home, not running", On({Home, {}}), Found(Ready),
         {{'X', L"edition-unsupported"}, {'N', L"hypervisor-not-running", L"elevated to see which"}, {'X'},
          {'N', L"feature-disabled", L"featurename:HypervisorPlatform /all\"), then restart"}, {'R'}}},
        {"credential guard locked in UEFI", On({Pro, allOn, Platform::Usable, 0, true}), Found(WindowsHypervisor),
         {{'R'}, {'R'}, {'R'}, {'R'}, {'N', L"windows-hypervisor-running", L"locked in UEFI"}}},
        {"guest that passes it through", On({Pro, allOn, Platform::NotUsable}), Found(HostPasses),
         {{'N', L"hypervisor-not-running"}, {'N'}, {'N'}, {'N'}, {'R'}}},
        {"guest that does not", On({Pro, allOn}), Found(HostDoesNotPass),
         {{'N', L"host-does-not-pass-through"}, {'N'}, {'N'}, {'N'}, {'N', L"host-does-not-pass-through"}}},
        {"disabled in firmware", On({Pro, allOn}), Found(FirmwareDisabled), {firmware, firmware, firmware, firmware, firmware}},
        {"no SLAT", On({Pro, allOn}), Found(Ready, true), {noSlat, noSlat, noSlat, noSlat, {'R'}}},
        {"another hypervisor uses VT-x", On({Pro, hyperVOnly}), Found(InUse),
         {{'N', L"hypervisor-not-running"}, {'N'}, {'N'}, {'N'}, {'N', L"other-hypervisor-running", L"close VMware"}}},
        {"nested root", On({Pro, allOn, Platform::Usable}), Found(NestedRoot),
         {{'R'}, {'R'}, {'R'}, {'R'}, {'X', L"windows-hypervisor-running"}}},
    };
}

TEST(WhatRuns, EveryProgramOnEveryKindOfWindows)
{
    for (const Row& row : Rows()) {
        const WhatRuns runs = DecideWhatRuns(row.Facts, row.Result);
        for (unsigned i = 0; i < ProgramCount; ++i) {
            const ProgramRow& got = runs.Rows[i];
            const Expect& want = row.Programs[i];
            const char state = "?RNX"[static_cast<unsigned>(got.State)];
            const std::string where = std::string(row.Case) + ", program " + std::to_string(i);
            EXPECT_EQ(state, want.State) << where;
            EXPECT_EQ(got.Blocker == nullptr, got.State == Readiness::Ready || got.State == Readiness::Unknown) << where;
            if (want.Blocker != nullptr) {
                EXPECT_EQ(std::wstring(got.Blocker != nullptr ? got.Blocker : L"(none)"), want.Blocker) << where;
            }
            if (want.Says != nullptr) {
                EXPECT_NE(std::wstring(got.Step.View()).find(want.Says), std::wstring::npos)
                    << where << ": " << std::string(got.Step.View().begin(), got.Step.View().end());
            }
            EXPECT_FALSE(got.Step.Truncated) << where;
        }
        const bool guest = row.Result.Found == HostPasses || row.Result.Found == HostDoesNotPass;
        EXPECT_EQ(runs.HostNote.Length != 0, guest) << row.Case;
    }
}

TEST(WindowsSide, EditionsFeatureStatesAndSettings)
{
    EXPECT_EQ(EditionOf(0x65), Edition::Home);
    EXPECT_EQ(EditionOf(0x30), Edition::Pro);
    EXPECT_EQ(EditionOf(0x1C), Edition::Other);  // what Wine answers
    // NotPresent, UninstallPending, Staged, Removed, Installed, InstallPending, Superseded, PartiallyInstalled
    const FeatureState dism[] = {Disabled, RestartPending, Disabled, Disabled, Enabled, RestartPending, Disabled, Disabled};
    for (int state = 0; state < 8; ++state) {
        EXPECT_EQ(FeatureStateOf(state), dism[state]) << state;
    }
    Vbs security;
    EXPECT_FALSE(VbsConfigured(security).Known || CredentialGuardConfigured(security).Known || VbsLocked(security).Known)
        << "absent is not off";
    security.LsaCfgFlags = Setting{true, 2};
    EXPECT_TRUE(CredentialGuardConfigured(security).Value && VbsLocked(security).Known && !VbsLocked(security).Value);
    security.LsaCfgFlags.Value = 1;
    EXPECT_TRUE(CredentialGuardConfigured(security).Value && VbsLocked(security).Value);
    security.HvciEnabled = Setting{true, 1};
    WindowsSide side;
    side.Security = security;
    EXPECT_FALSE(ShouldReadLaunchEvents(side, true));
    EXPECT_TRUE(ShouldReadLaunchEvents(side, false));
    side.Security = Vbs{};
    side.Features[0] = Disabled;
    EXPECT_FALSE(ShouldReadLaunchEvents(side, false)) << "nothing asks the hypervisor to start";
    EXPECT_EQ(std::wstring(LaunchEventQuery(134410977450000000).View()),
              L"*[System[Provider[@Name='Microsoft-Windows-Hyper-V-Hypervisor'] and Execution[@ProcessID=4] and "
              L"TimeCreated[@SystemTime>='2026-12-07T06:15:45Z']]]");
}

}  // namespace
