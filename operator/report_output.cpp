#include "operator/report_output.h"

#include <windows.h>
#include <intrin.h>

#include "operator/console.h"
#include "operator/exit_codes.h"
#include "operator/hypervisor.h"
#include "operator/json_report.h"
#include "operator/verdict.h"

namespace {

void ReadText(HKEY Key, const wchar_t* Name, FixedText<128>& Text, bool& Present)
{
    DWORD size = sizeof(Text.Chars);
    const LSTATUS status = RegGetValueW(Key, nullptr, Name, RRF_RT_REG_SZ, nullptr, Text.Chars, &size);
    Present = status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
    if (status == ERROR_SUCCESS) {
        Text.Length = size / sizeof(wchar_t) - 1;
    } else {
        Text.Clear();
        Text.Append(Present ? L"(too long)" : L"");
    }
}

CpuidRegisters QueryCpuid(std::uint32_t Leaf)
{
    int registers[4] = {};
    __cpuidex(registers, static_cast<int>(Leaf), 0);
    return CpuidRegisters{static_cast<std::uint32_t>(registers[0]), static_cast<std::uint32_t>(registers[1]),
                          static_cast<std::uint32_t>(registers[2]), static_cast<std::uint32_t>(registers[3])};
}

void PrintValue(std::wstring_view Name, bool Present, std::wstring_view Data)
{
    if (Present) {
        FixedText<256> line;
        line.Append(L"  ");
        line.Append(Name);
        line.Append(Tail(L"              ", Name.size()));
        line.Append(Data);
        line.Append(L"\n");
        WriteOut(line.View());
    }
}

}  // namespace

// Always the 64-bit view: a 32-bit caller would otherwise read WOW6432Node.
Report ReadReport()
{
    Report values;
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
    RegCloseKey(key);
    return values;
}

void EnsureReportKey()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ReportKeyName, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
}

int PrintReport(const Output& To)
{
    const Report values = ReadReport();
    const HypervisorFacts hypervisor = ReadHypervisorFacts(QueryCpuid);
    const Verdict verdict = DecideVerdict(values, hypervisor);
    const int code = values.KeyPresent && values.VendorPresent ? ExitDone : ExitNoReport;
    if (To.Json) {
        WriteOut(FormatJsonReport(values, hypervisor, verdict).View());
        return code;
    }
    if (values.KeyPresent) {
        WriteOut(L"Report under HKLM\\Software\\Korimath:\n");
        PrintValue(L"CPU_Vendor", values.VendorPresent, values.Vendor.View());
        PrintValue(L"CPU_Name", values.NamePresent, values.Name.View());
        for (unsigned i = 0; i < ReportFlagCount; ++i) {
            FixedText<16> number;
            number.AppendNumber(values.Flags[i].Value);
            PrintValue(ReportFlagNames[i], values.Flags[i].Present, number.View());
        }
    }
    WriteOut(L"Hypervisor: ");
    if (!hypervisor.Present) {
        WriteOut(L"none reported by CPUID\n");
    } else {
        WriteOut(HypervisorDisplayName(hypervisor));
        WriteOut(L" (\"");
        WriteOut(hypervisor.Vendor.View());
        WriteOut(hypervisor.RootPartition ? L"\"), Windows runs as its root partition\n"
                                          : L"\"), Windows runs as its guest\n");
    }
    WriteOut(L"Verdict (");
    WriteOut(verdict.Id);
    WriteOut(L"):\n  ");
    WriteOut(verdict.Text.View());
    WriteOut(L"\n");
    return code;
}
