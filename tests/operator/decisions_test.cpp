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
    const struct { const wchar_t* Stored; InstalledImage Is; } rows[] = {
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
        {L"Xystem32\\drivers\\korimath.sys", Elsewhere},
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
    const struct { ServiceFound Service; Found Is; } services[] = {
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
    // The plan as write file, create service, repoint service, remove after run, restore after run, conflict.
    const struct { bool Run; Found Service; SystemCopyState Copy; const char* Plan; } rows[] = {
        {false, NoService, Missing, "110000"},   {false, SystemCopy, SameAsCarried, "000000"},
        {false, SystemCopy, Different, "100000"}, {false, DriverStore, Missing, "000000"},
        {false, Elsewhere, SameAsCarried, "101000"}, {false, RunLeftover, SameAsCarried, "101000"},
        {false, Conflict, Missing, "000001"},    {true, NoService, Missing, "110100"},
        {true, SystemCopy, SameAsCarried, "000000"}, {true, SystemCopy, Different, "100000"},  // compared as in install
        {true, SystemCopy, Missing, "100000"},   {true, DriverStore, Different, "000000"},
        {true, Elsewhere, Missing, "101010"},    // put back as it was afterwards
        {true, RunLeftover, Different, "101100"}, {true, Conflict, SameAsCarried, "000001"},
    };
    for (const auto& row : rows) {
        const DriverPlan plan = row.Run ? PlanRun(row.Service, row.Copy) : PlanInstall(row.Service, row.Copy);
        std::string got;
        for (const bool step : {plan.WriteSystemCopy, plan.CreateService, plan.RepointService, plan.RemoveAfterRun,
                                plan.RestoreAfterRun, plan.Conflict}) {
            got += step ? '1' : '0';
        }
        EXPECT_EQ(got, row.Plan) << &row - rows;
    }
}

TEST(Safeguards, LockWaitsCopyServiceAndConsole)
{
    EXPECT_TRUE(LockOutcomeOf(true, 0) == LockOutcome::Held && LockOutcomeOf(true, 0x102) == LockOutcome::Busy &&
                LockOutcomeOf(true, 0xFFFFFFFF) == LockOutcome::Unavailable &&
                LockOutcomeOf(false, 0) == LockOutcome::Unavailable);
    EXPECT_EQ(LockOutcomeOf(true, 0x80), LockOutcome::Held) << "abandoned: its holder died";
    // SERVICE_STOPPED 1, START_PENDING 2, STOP_PENDING 3, RUNNING 4
    EXPECT_FALSE(WaitEnds(Awaited::Stopped, 4) || WaitEnds(Awaited::Stopped, 3) || WaitEnds(Awaited::Running, 2));
    EXPECT_TRUE(WaitEnds(Awaited::Stopped, 1) && WaitEnds(Awaited::Running, 4) && WaitEnds(Awaited::Running, 1));
    const AccessEntry admins[] = {{true, Trustee::System, 0x1F01FF}, {true, Trustee::Administrators, 0x1F01FF},
                                  {true, Trustee::Other, 0x1200A9}, {false, Trustee::Other, 0x1F01FF}};
    const AccessEntry users[] = {{true, Trustee::Other, 0x100}};  // FILE_WRITE_ATTRIBUTES alone
    const AccessEntry dac[] = {{true, Trustee::Other, 0x40000}}, owner[] = {{true, Trustee::Other, 0x80000}};
    const AccessEntry self[] = {{true, Trustee::System, 0x1F01FF}, {true, Trustee::Self, 0x1F01FF}};
    const struct { CopyFacts Facts; CopyProblem Expected; } copies[] = {
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
    for (const wchar_t unsafe : {L'\0', L'\x1B', L'\r', L'\x7F', L'\x85', L'\x9F', L'\x9B', L'\x202A', L'\x202E', L'\x2066',
                                 L'\x2069', L'\x061C', L'\x2028', L'\x2029', L'\x200B', L'\x200F', L'\x2060', L'\x2064',
                                 L'\xFEFF'}) {
        EXPECT_EQ(ForConsole(unsafe, true), L'\xFFFD') << static_cast<unsigned>(unsafe);
    }
    EXPECT_EQ(ForConsole(L'\xA0', false), L'\xA0') << "the C1 range ends at U+009F";
    EXPECT_TRUE(ForConsole(L'\n', true) == L'\n' && ForConsole(L'\xE9', false) == L'\xE9');
    EXPECT_EQ(ForConsole(L'\n', false), L'\xFFFD') << "an untrusted newline could fake a line";
}

CommandLine Parse(std::initializer_list<const wchar_t*> Args)
{
    std::vector<const wchar_t*> argv{L"korimath.exe"};
    argv.insert(argv.end(), Args);
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, ActionsOptionsAndMisuse)
{
    const struct { std::initializer_list<const wchar_t*> Args; Action Do; bool Json; } rows[] = {
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
        EXPECT_TRUE(command.Do == row.Do && command.Json == row.Json) << (&row - rows);
    }
    for (const Action action : {Action::Report, Action::Run, Action::Install, Action::Remove, Action::Help,
                                Action::Usage, Action::Check, Action::FirmwareSetup}) {
        EXPECT_EQ(RefusedOffX64(action), action == Action::Report || action == Action::Run || action == Action::Install);
    }
}

TEST(CommandLine, OnlyExplorersWindowWaitsForAKey)
{
    const Console explorer{true, true, false};
    const struct { std::initializer_list<const wchar_t*> Args; Console Where; bool Waits; } rows[] = {
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
    const struct { FirmwareFacts Facts; FirmwareRefusal Expected; } rows[] = {
        {uefi, FirmwareRefusal::None},
        {{false, 2, true, true, 1}, FirmwareRefusal::FunctionsMissing},  // Wine 8
        {{true, 1, true, true, 1}, FirmwareRefusal::LegacyBios},
        {{true, 2, false, true, 1}, FirmwareRefusal::PrivilegeRefused},
        {{true, 2, true, false, 1}, FirmwareRefusal::SupportUnreadable},
        {{true, 2, true, true, 0x7E}, FirmwareRefusal::NotSupported},
    };
    for (const auto& row : rows) {
        FixedText<1024> why;
        AppendRefusal(why, row.Expected);
        EXPECT_TRUE(CheckFirmwareSetup(row.Facts) == row.Expected &&
                    (row.Expected == FirmwareRefusal::None ? why.Length == 0 : why.View().find(L"Nothing was changed") !=
                                                                                   std::wstring_view::npos))
            << (&row - rows);
    }
    EXPECT_TRUE(WithBootToFirmwareUi(0) == 1 && WithBootToFirmwareUi(0x40) == 0x41 &&
                WithBootToFirmwareUi(0xFFFFFFFFFFFFFFFEULL) == 0xFFFFFFFFFFFFFFFFULL)
        << "other OsIndications bits survive";
    EXPECT_TRUE(HowToConfirm(true, false) == Confirmation::Skip && HowToConfirm(false, true) == Confirmation::Ask &&
                HowToConfirm(false, false) == Confirmation::Refuse);
    const struct { Finding Found; bool Vmx; const wchar_t* Says; } advice[] = {{Finding::FirmwareDisabled, true, L"turn on \"Intel Virtualization Technology\""},
                  {Finding::FirmwareUnlocked, true, L"turn on \"Intel Virtualization Technology\""},
                  {Finding::FirmwareDisabled, false, L"turn on \"SVM Mode\""},
                  {Finding::Enabled, true, L"does not call for a firmware change"}};
    for (const auto& row : advice) {
        Verdict verdict;
        verdict.Found = row.Found, verdict.Vmx = row.Vmx;
        FixedText<2048> text;
        AppendFirmwareAdvice(text, verdict);
        const std::wstring_view said = text.View();
        EXPECT_TRUE(said.find(row.Says) != said.npos && said.find(L"BitLocker") != said.npos &&
                    said.find(L"Save your open work") != said.npos &&
                    (said.find(L"IA32_FEATURE_CONTROL") != said.npos) == row.Vmx)
            << (&row - advice);
    }
    const struct { FirmwareRestart Restart; const wchar_t* Says; } failed[] = {{{5, false, true, 0}, L"cannot restart into firmware setup; OsIndications is as it was"},
                  {{0, true, true, 0}, L"was cancelled (a program would not close, or someone chose Cancel); OsIndi"},
                  {{5, false, false, 1115}, L"setup; OsIndications could not be put back (error 1115), so the next"}};
    for (const auto& row : failed) {
        FixedText<1024> text;
        AppendNoRestart(text, row.Restart);
        EXPECT_NE(text.View().find(row.Says), std::wstring_view::npos) << (&row - failed);
    }
}

}  // namespace
