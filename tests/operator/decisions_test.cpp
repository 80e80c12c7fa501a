// Decided before Windows is touched: where a service loads its image from,
// what install and run do about it, the command line, the key wait.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "operator/decisions/command_line.h"
#include "operator/decisions/driver_plan.h"
#include "operator/decisions/firmware_setup.h"
#include "operator/decisions/safeguards.h"

namespace {

TEST(ImagePath, EveryStoredFormOfTheSystemCopyAndNothingElse)
{
    using enum InstalledImage;
    const struct {
        const wchar_t* Stored;
        InstalledImage Is;
    } rows[] = {
        {SystemCopyImagePath, SystemCopy},
        {L"System32\\drivers\\korimath.sys", SystemCopy},
        {L"\\??\\C:\\Windows\\system32\\DRIVERS\\korimath.sys", SystemCopy},
        {L"\"c:\\windows\\System32\\drivers\\korimath.sys\"", Elsewhere},  // forms the kernel does not load
        {L"C:\\Windows\\System32\\drivers\\korimath.sys", Elsewhere},
        {L"\\\\?\\C:\\Windows\\System32\\drivers\\korimath.sys", Elsewhere},
        {L"System32\\DriverStore\\FileRepository\\korimathX\\korimath.sys", Elsewhere},
        {L"\\SystemRoot\\System32\\DriverStore\\FileRepository\\korimath.inf_amd64_0f3b\\korimath.sys", DriverStore},
        {L"System32\\DriverStore\\FileRepository\\korimath.inf_amd64_1\\KORIMATH.SYS", DriverStore},
        {L"\\??\\C:\\Users\\bob\\Downloads\\korimath.sys", Elsewhere},
        {L"\\??\\C:\\WindowsSystem32\\drivers\\korimath.sys", Elsewhere},
        {L"C:\\Windows\\System32\\drivers\\korimath.sys.bak", Elsewhere},
        {L"C:\\Windows\\System32\\drivers\\..\\..\\..\\Users\\bob\\korimath.sys", Elsewhere},
        {L"\\??\\UNC\\server\\share\\korimath.sys", Elsewhere},
        {L"\\Device\\HarddiskVolume3\\korimath.sys", Elsewhere},
        {L"System32\\DriverStore\\FileRepository\\other.inf_amd64_1\\korimath.sys", Elsewhere},
        {L"System32\\DriverStore\\FileRepository\\korimath.inf_a\\..\\..\\..\\..\\Users\\korimath.sys", Elsewhere},
        {L"System32\\DriverStore\\FileRepository\\korimath.inf_a/../../../../Users/bob\\korimath.sys", Elsewhere},
        {L"System32\\DriverStore\\FileRepository\\korimath.inf_a:stream\\korimath.sys", Elsewhere},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ClassifyImagePath(row.Stored, L"C:\\Windows"), row.Is)
            << std::string(row.Stored, row.Stored + std::wstring(row.Stored).size());
    }
}

TEST(DriverPlan, WhatInstallAndRunDoWithWhatTheyFind)
{
    using enum Found;
    using enum SystemCopyState;
    const std::wstring_view kernel = L"\\SystemRoot\\System32\\drivers\\korimath.sys";
    const struct {
        ServiceFound Service;
        Found Is;
    } services[] = {
        {{true, kernel, InstallDescription, InstallDisplayName}, SystemCopy},
        {{true, kernel, RunDescription, L""}, RunLeftover},
        {{true, kernel, L"", RunServiceDisplayName(L"korimath-run-0123456789abcdef").View()}, RunLeftover},
        {{true, L"C:\\Users\\bob\\korimath.sys", L"anything", L""}, Elsewhere},
        {{false, kernel, InstallDescription, L""}, Conflict},  // a user-mode service
        {{true, L"\\SystemRoot\\System32\\drivers\\vendor.sys", L"", L""}, Conflict},
    };
    for (const auto& row : services) {
        EXPECT_EQ(ClassifyService(row.Service, L"C:\\Windows"), row.Is) << (&row - services);
    }
    // Run's own services: its prefix, 16 digits, a kernel driver loading korimath.sys, its display name.
    const auto display = RunServiceDisplayName(L"korimath-run-0123456789abcdef");
    EXPECT_EQ(std::wstring(display.View()), std::wstring(RunDisplayName) + L" (korimath-run-0123456789abcdef)");
    const ServiceFound ours{true, kernel, L"", display.View()};
    EXPECT_TRUE(IsRunLeftover(L"korimath-run-0123456789abcdef", ours));
    for (const auto& [name, found] : {std::pair{L"korimath-run-0123456789abcde", ours},
                                      {L"korimath-run-0123456789abcdef", ServiceFound{false, kernel, L"", display.View()}},
                                      {L"korimath-run-0123456789abcdef", ServiceFound{true, L"x.sys", L"", display.View()}},
                                      {L"korimath-run-0123456789abcdef", ServiceFound{true, kernel, L"", RunDisplayName}},
                                      {L"korimath-run-fedcba9876543210", ours}}) {
        EXPECT_FALSE(IsRunLeftover(name, found)) << std::string(name, name + 28);
    }
    // write file, create service, repoint service, remove after run, restore after run, conflict
    const struct {
        bool Run;
        Found Service;
        SystemCopyState Copy;
        DriverPlan Plan;
    } rows[] = {
        {false, NoService, Missing, {true, true, false, false, false, false}},
        {false, SystemCopy, SameAsCarried, {}},
        {false, SystemCopy, Different, {true, false, false, false, false, false}},
        {false, DriverStore, Missing, {}},
        {false, Elsewhere, SameAsCarried, {true, false, true, false, false, false}},
        {false, RunLeftover, SameAsCarried, {true, false, true, false, false, false}},
        {false, Conflict, Missing, {false, false, false, false, false, true}},
        {true, NoService, Missing, {true, true, false, true, false, false}},
        {true, SystemCopy, SameAsCarried, {}},
        {true, SystemCopy, Different, {true, false, false, false, false, false}},  // compared in run as in install
        {true, SystemCopy, Missing, {true, false, false, false, false, false}},
        {true, DriverStore, Different, {}},
        {true, Elsewhere, Missing, {true, false, true, false, true, false}},  // put back as it was afterwards
        {true, RunLeftover, Different, {true, false, true, true, false, false}},
        {true, Conflict, SameAsCarried, {false, false, false, false, false, true}},
    };
    const auto fields = [](const DriverPlan& Plan) {
        return std::tuple(Plan.WriteSystemCopy, Plan.CreateService, Plan.RepointService, Plan.RemoveAfterRun,
                          Plan.RestoreAfterRun, Plan.Conflict);
    };
    for (const auto& row : rows) {
        const DriverPlan plan = row.Run ? PlanRun(row.Service, row.Copy) : PlanInstall(row.Service, row.Copy);
        EXPECT_EQ(fields(plan), fields(row.Plan)) << &row - rows;
    }
}

TEST(Safeguards, LockWaitsCopyServiceAndConsole)
{
    EXPECT_EQ(LockOutcomeOf(true, 0), LockOutcome::Held);
    EXPECT_EQ(LockOutcomeOf(true, 0x80), LockOutcome::Held) << "abandoned: its holder died";
    EXPECT_EQ(LockOutcomeOf(true, 0x102), LockOutcome::Busy);
    EXPECT_EQ(LockOutcomeOf(true, 0xFFFFFFFF), LockOutcome::Unavailable);
    EXPECT_EQ(LockOutcomeOf(false, 0), LockOutcome::Unavailable);
    // SERVICE_STOPPED 1, START_PENDING 2, STOP_PENDING 3, RUNNING 4
    EXPECT_FALSE(WaitEnds(Awaited::Stopped, 4) || WaitEnds(Awaited::Stopped, 3) || WaitEnds(Awaited::Running, 2));
    EXPECT_TRUE(WaitEnds(Awaited::Stopped, 1) && WaitEnds(Awaited::Running, 4) && WaitEnds(Awaited::Running, 1));
    const AccessEntry admins[] = {{true, Trustee::System, 0x1F01FF}, {true, Trustee::Administrators, 0x1F01FF},
                                  {true, Trustee::Other, 0x1200A9}, {false, Trustee::Other, 0x1F01FF}};
    const AccessEntry users[] = {{true, Trustee::Other, 0x100}};  // FILE_WRITE_ATTRIBUTES alone
    const AccessEntry dac[] = {{true, Trustee::Other, 0x40000}}, owner[] = {{true, Trustee::Other, 0x80000}};
    const AccessEntry self[] = {{true, Trustee::System, 0x1F01FF}, {true, Trustee::Self, 0x1F01FF}};
    const struct {
        CopyFacts Facts;
        CopyProblem Expected;
    } copies[] = {
        {{false, 1, Trustee::Administrators, true, admins, 4}, CopyProblem::None},
        {{false, 1, Trustee::System, true, admins, 2}, CopyProblem::None},
        {{true, 1, Trustee::Administrators, true, admins, 2}, CopyProblem::ReparsePoint},
        {{false, 2, Trustee::Administrators, true, admins, 2}, CopyProblem::HardLinks},
        {{false, 1, Trustee::Other, true, admins, 2}, CopyProblem::Owner},
        {{false, 1, Trustee::System, false, nullptr, 0}, CopyProblem::OthersMayWrite},  // NULL DACL
        {{false, 1, Trustee::System, true, users, 1}, CopyProblem::OthersMayWrite},
        {{false, 1, Trustee::System, true, dac, 1}, CopyProblem::OthersMayWrite},    // WRITE_DAC alone
        {{false, 1, Trustee::System, true, owner, 1}, CopyProblem::OthersMayWrite},  // WRITE_OWNER alone
        {{false, 1, Trustee::Self, true, admins, 2}, CopyProblem::Owner},  // this administrator's unelevated self
        {{false, 1, Trustee::System, true, self, 2}, CopyProblem::OthersMayWrite},
        {{false, 1, Trustee::Self, true, self, 2, false}, CopyProblem::None},  // Wine: no owners kept at all
    };
    for (const auto& row : copies) {
        EXPECT_EQ(CheckCopy(row.Facts), row.Expected) << (&row - copies);
    }
    const std::wregex trustee(L"(;;;|O:)([A-Z]+)[)D]");
    for (const std::wstring sddl : {ServiceSddl, CopySddl, AdministratorsOnlyFolderSddl, AdministratorsOnlySddl}) {
        for (auto it = std::wsregex_iterator(sddl.begin(), sddl.end(), trustee); it != std::wsregex_iterator(); ++it) {
            EXPECT_TRUE((*it)[2] == L"SY" || (*it)[2] == L"BA") << "grants nothing to users: " << sddl.size();
        }
    }
    EXPECT_EQ(std::wstring(LockBoundarySid), L"S-1-5-32-544") << "the Administrators SID, no other";
    for (const wchar_t unsafe : {L'\x1B', L'\r', L'\x7F', L'\x85', L'\x9F', L'\x9B', L'\x202E', L'\x2066', L'\x061C',
                                 L'\x2028', L'\x2029', L'\x200B', L'\x200D', L'\x2060', L'\xFEFF'}) {
        EXPECT_EQ(ForConsole(unsafe, true), L'\xFFFD') << static_cast<unsigned>(unsafe);
    }
    EXPECT_EQ(ForConsole(L'\xA0', false), L'\xA0') << "the C1 range ends at U+009F";
    EXPECT_EQ(ForConsole(L'\n', true), L'\n');
    EXPECT_EQ(ForConsole(L'\n', false), L'\xFFFD') << "an untrusted newline could fake a line";
    EXPECT_EQ(ForConsole(L'\xE9', false), L'\xE9');
}

CommandLine Parse(std::initializer_list<const wchar_t*> Args)
{
    std::vector<const wchar_t*> argv{L"korimath.exe"};
    argv.insert(argv.end(), Args);
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, ActionsOptionsAndMisuse)
{
    const struct {
        std::initializer_list<const wchar_t*> Args;
        Action Do;
        bool Json;
    } rows[] = {
        {{L"run"}, Action::Run, false}, {{L"--json", L"run"}, Action::Run, true},
        {{L"report", L"--json"}, Action::Report, true}, {{L"install"}, Action::Install, false},
        {{L"/?"}, Action::Help, false}, {{L"install", L"--json"}, Action::Usage, true},
        {{L"run", L"report"}, Action::Usage, false}, {{L"RUN"}, Action::Usage, false},
        {{L"check", L"--json"}, Action::Check, true}, {{L"firmware-setup", L"--yes"}, Action::FirmwareSetup, false},
        {{L"run", L"--yes"}, Action::Usage, false}, {{L"firmware-setup", L"--json"}, Action::Usage, true},
        {{L"report", FromExplorerMarker}, Action::Usage, false}, {{L"run", FromExplorerMarker}, Action::Run, false},
        {{}, Action::Usage, false},
    };
    for (const auto& row : rows) {
        const CommandLine command = Parse(row.Args);
        EXPECT_EQ(command.Do, row.Do) << (&row - rows);
        EXPECT_EQ(command.Json, row.Json) << (&row - rows);
    }
    for (const Action refused : {Action::Report, Action::Run, Action::Install}) {
        EXPECT_TRUE(RefusedOffX64(refused));
    }
    for (const Action allowed : {Action::Remove, Action::Help, Action::Usage, Action::Check, Action::FirmwareSetup}) {
        EXPECT_FALSE(RefusedOffX64(allowed));
    }
}

TEST(CommandLine, OnlyExplorersWindowWaitsForAKey)
{
    const Console explorer{true, true, false};
    const struct {
        std::initializer_list<const wchar_t*> Args;
        Console Where;
        bool Waits;
    } rows[] = {
        {{}, explorer, true},                                         // double-click
        {{L"run", FromExplorerMarker}, explorer, true},               // the elevated copy it starts
        {{L"run", FromExplorerMarker}, {false, true, false}, true},
        {{}, {false, true, false}, false},                            // a prompt: usage, no wait
        {{L"run"}, explorer, false},                                  // a parent without a console (Task Scheduler)
        {{L"run", L"--json"}, explorer, false},
        {{L"run", FromExplorerMarker, L"--json"}, explorer, false},
        {{}, {true, false, false}, false},                            // input redirected
        {{}, {true, true, true}, false},                              // session 0: a SYSTEM agent
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ShouldWaitForKey(Parse(row.Args), row.Where), row.Waits) << (&row - rows);
    }
}

TEST(FirmwareSetup, MayWeHowToAskWhatToWriteAndWhatToSay)
{
    const FirmwareFacts uefi{true, 2, true, true, 0x7F};
    const struct {
        FirmwareFacts Facts;
        FirmwareRefusal Expected;
    } rows[] = {
        {uefi, FirmwareRefusal::None},
        {{false, 2, true, true, 1}, FirmwareRefusal::FunctionsMissing},  // Wine 8
        {{true, 1, true, true, 1}, FirmwareRefusal::LegacyBios},
        {{true, 2, false, true, 1}, FirmwareRefusal::PrivilegeRefused},
        {{true, 2, true, false, 1}, FirmwareRefusal::SupportUnreadable},
        {{true, 2, true, true, 0x7E}, FirmwareRefusal::NotSupported},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CheckFirmwareSetup(row.Facts), row.Expected) << (&row - rows);
        FixedText<1024> why;
        AppendRefusal(why, row.Expected);
        EXPECT_EQ(why.Length == 0, row.Expected == FirmwareRefusal::None) << (&row - rows);
        EXPECT_TRUE(row.Expected == FirmwareRefusal::None || std::wstring(why.View()).find(L"Nothing was changed") !=
                                                                 std::wstring::npos);
    }
    EXPECT_EQ(WithBootToFirmwareUi(0), 1U);
    EXPECT_EQ(WithBootToFirmwareUi(0x40), 0x41U) << "other OsIndications bits survive";
    EXPECT_EQ(WithBootToFirmwareUi(0xFFFFFFFFFFFFFFFEULL), 0xFFFFFFFFFFFFFFFFULL);
    EXPECT_EQ(HowToConfirm(true, false), Confirmation::Skip);
    EXPECT_EQ(HowToConfirm(false, true), Confirmation::Ask);
    EXPECT_EQ(HowToConfirm(false, false), Confirmation::Refuse);
    Verdict disabled;
    disabled.Found = Finding::FirmwareDisabled;
    for (const bool vmx : {true, false}) {
        disabled.Vmx = vmx;
        FixedText<2048> advice;
        AppendFirmwareAdvice(advice, disabled);
        const std::wstring text(advice.View());
        EXPECT_NE(text.find(vmx ? L"\"Intel Virtualization Technology\"" : L"\"SVM Mode\""), std::wstring::npos);
        EXPECT_EQ(text.find(L"IA32_FEATURE_CONTROL") != std::wstring::npos, vmx);
        EXPECT_NE(text.find(L"BitLocker"), std::wstring::npos);
        EXPECT_NE(text.find(L"Save your open work"), std::wstring::npos);
    }
}

}  // namespace
