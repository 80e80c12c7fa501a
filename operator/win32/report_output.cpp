#include "operator/win32/report_output.h"

#include <windows.h>
#include <intrin.h>

#include "operator/decisions/exit_codes.h"
#include "operator/decisions/what_runs.h"
#include "operator/win32/console.h"
#include "operator/win32/elevation.h"
#include "operator/win32/windows_facts.h"
#include "operator/win32/launch_events.h"
#include "operator/win32/side_output.h"
#include "operator/win32/system_library.h"
#include "operator/win32/windows_side.h"

namespace {

void ReadText(HKEY Key, const wchar_t* Name, FixedText<128>& Text, bool& Present)
{
    DWORD size = sizeof(Text.Chars);
    const LSTATUS status = RegGetValueW(Key, nullptr, Name, RRF_RT_REG_SZ, nullptr, Text.Chars, &size);
    Present = status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
    if (status == ERROR_SUCCESS) {
        Text.Length = StoredTextLength(Text.Chars, size, sizeof(Text.Chars) / sizeof(wchar_t));
        Text.Chars[Text.Length] = 0;  // a value stored with no bytes at all is empty, not what the buffer held
    } else {
        Text.Clear();
        Text.Append(Present ? L"(too long)" : L"");
    }
}

// Always the 64-bit view: a 32-bit caller would otherwise read WOW6432Node.
// LastWrite: the key's last write time (FILETIME), 0 when unknown.
Report ReadReport(std::uint64_t& LastWrite)
{
    Report values;
    LastWrite = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ReportKeyName, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
        return values;
    }
    values.KeyPresent = true;
    ReadText(key, L"CPU_Vendor", values.Vendor, values.VendorPresent);
    ReadText(key, L"CPU_Name", values.Name, values.NamePresent);
    for (unsigned i = 0; i < ReportFlagCount; ++i) {
        DWORD size = sizeof(DWORD);
        DWORD data = 0;
        values.Flags[i].Present =
            RegGetValueW(key, nullptr, ReportFlagNames[i], RRF_RT_REG_DWORD, nullptr, &data, &size) == ERROR_SUCCESS;
        values.Flags[i].Value = data;
    }
    FILETIME written{};
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &written) == ERROR_SUCCESS) {
        LastWrite = (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    }
    RegCloseKey(key);
    return values;
}

std::uint64_t Now()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// When Windows started (FILETIME): now, less the time since.
std::uint64_t BootTime()
{
    return Now() - GetTickCount64() * 10000;
}

CpuidRegisters QueryCpuid(std::uint32_t Leaf)
{
    int registers[4] = {};
    __cpuidex(registers, static_cast<int>(Leaf), 0);
    return CpuidRegisters{static_cast<std::uint32_t>(registers[0]), static_cast<std::uint32_t>(registers[1]),
                          static_cast<std::uint32_t>(registers[2]), static_cast<std::uint32_t>(registers[3])};
}

std::wstring_view Bit(bool Value, bool Known)
{
    return !Known ? L"-" : Value ? L"1" : L"0";
}

std::wstring_view YesNo(bool Value)
{
    return Value ? L"yes" : L"no";
}

void PrintFacts(const MachineFacts& Facts)
{
    const Report& values = Facts.Values;
    if (values.KeyPresent) {
        WriteOut(L"Report under HKLM\\Software\\Korimath:\n");
        if (Facts.Freshness.Known) {
            PrintLine(L"written", {Facts.Freshness.WrittenUtc.View(),
                                   Facts.Freshness.ThisBoot ? L" (since Windows started)" : L" (before Windows started)"});
        }
        if (values.VendorPresent) {
            PrintLine(L"CPU_Vendor", {values.Vendor.View()});
        }
        if (values.NamePresent) {
            PrintLine(L"CPU_Name", {values.Name.View()});
        }
        for (unsigned i = 0; i < ReportFlagCount; ++i) {
            FixedText<16> number;
            number.AppendNumber(values.Flags[i].Value);
            if (values.Flags[i].Present) {
                PrintLine(ReportFlagNames[i], {number.View()});
            }
        }
    }
    if (!values.Written()) {
        WriteOut(L"No report under HKLM\\Software\\Korimath yet: \"korimath run\" from an elevated prompt writes "
                 L"one.\n");
    }
    WriteOut(L"Now:\n");
    PrintLine(L"processor", {Facts.Processor.Vendor.View(), L" ", Facts.Processor.Brand.View()});
    const CpuidFeatures& cpu = Facts.Cpu;
    PrintLine(L"CPUID", {L"VMX ", Bit(cpu.Vmx, true), L", SMX ", Bit(cpu.Smx, true), L", SVM ",
                         Bit(cpu.Svm, cpu.SvmKnown), L", nested paging ", Bit(cpu.NestedPaging, cpu.NestedPagingKnown)});
    const HypervisorName name = NameHypervisor(Facts.Hypervisor, Facts.System);
    const HypervisorFacts& hypervisor = Facts.Hypervisor;
    PrintLine(L"hypervisor", {hypervisor.Present ? name.Name : L"none reported by CPUID",
                              name.Enlightened ? L" (with Hyper-V enlightenments)" : L"",
                              hypervisor.RootPartition ? L", Windows runs as its root partition"
                              : hypervisor.NestedRoot  ? L", Windows runs as its nested root partition"
                              : hypervisor.Present     ? L", Windows runs as its guest"
                                                       : L""});
    if (Facts.Windows.Meaningful) {
        PrintLine(L"Windows says", {L"virtualization enabled in firmware: ", YesNo(Facts.Windows.FirmwareEnabled),
                                    L", SLAT: ", YesNo(Facts.Windows.Slat)});
    }
    if (Facts.Windows.MemoryIntegrityKnown) {
        PrintLine(L"memory integrity", {Facts.Windows.MemoryIntegrityRunning ? L"on" : L"off"});
    }
    const SystemIdentity& system = Facts.System;
    if (system.Manufacturer.Length + system.Product.Length != 0) {
        PrintLine(L"system", {system.Manufacturer.View(), L" ", system.Product.View()});
    } else {
        PrintLine(L"system", {L"not given by the firmware"});
    }
    PrintWindowsSide(Facts);
}

}  // namespace

void EnsureReportKey()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ReportKeyName, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
}

MachineFacts GatherFacts(const DriverLoad& Driver, bool WindowsSide)
{
    MachineFacts facts;
    std::uint64_t lastWrite = 0;
    facts.Values = ReadReport(lastWrite);
    KeepOwnVendorsValues(facts.Values);
    facts.Processor = ReadProcessorIdentity(QueryCpuid);
    facts.Freshness = AssessFreshness(facts.Values, facts.Processor, lastWrite, Now(), GetTickCount64());
    facts.Cpu = ReadCpuidFeatures(QueryCpuid);
    facts.Hypervisor = ReadHypervisorFacts(QueryCpuid);
    facts.Windows = ReadWindowsView(facts.Hypervisor.Present);
    facts.System = ReadSystemIdentity();
    if (WindowsSide) {
        facts.Side = ReadWindowsSide(IsElevated());
        if (ShouldReadLaunchEvents(facts.Side, facts.Hypervisor.RootPartition || facts.Hypervisor.NestedRoot)) {
            const SystemLibrary log(L"wevtapi.dll");
            facts.Side.Launch = ReadLaunchEvent(LoadEventLogApi(log), BootTime());
        }
    }
    facts.NativeX64 = NativeMachineIsX64();
    facts.Driver = Driver;
    return facts;
}

int PrintReport(const Output& To)
{
    if (To.Json) {
        std::uint64_t lastWrite = 0;  // PrintJson gathers the rest once, at the end
        const Report values = ReadReport(lastWrite);
        return values.Written() ? ExitDone : ExitNoReport;
    }
    const MachineFacts facts = GatherFacts(To.Driver, true);
    const Verdict verdict = DecideVerdict(facts);
    PrintFacts(facts);
    WriteOut(L"Verdict (");
    WriteOut(verdict.Id);
    WriteOut(L"):\n  ");
    WriteUntrusted(verdict.Text.View());
    WriteOut(L"\n");
    PrintWhatRuns(facts, DecideWhatRuns(facts, verdict));
    return facts.Values.Written() ? ExitDone : ExitNoReport;
}

namespace {

void WriteJson(const Output& To, const MachineFacts& Facts, const Verdict& Result, int ExitCode)
{
    Outcome ended = To.Ended;
    ended.ExitCode = ExitCode;
    WriteOut(FormatJsonReport(Facts, Result, ended).View());
}

}  // namespace

int Check(Output& To)
{
    // The one line needs only the verdict; the object carries Windows' side too.
    const MachineFacts facts = GatherFacts(To.Driver, To.Json);
    const Verdict verdict = DecideVerdict(facts);
    const int code = CheckExitCode(facts, verdict);
    if (To.Json) {
        WriteJson(To, facts, verdict, code);
        To.JsonPrinted = true;
    } else {
        WriteUntrusted(CheckLine(facts, verdict).View());
        WriteOut(L"\n");
    }
    return code;
}

void PrintJson(const Output& To, int ExitCode)
{
    const MachineFacts facts = GatherFacts(To.Driver, true);
    WriteJson(To, facts, DecideVerdict(facts), ExitCode);
}
