// The operator's texts that do not depend on Windows: error sentences and the
// JSON report.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <regex>
#include <string>
#include <vector>

#include "operator/decisions/json_report.h"
#include "operator/decisions/messages.h"

namespace {

std::wstring Explained(unsigned long Error, bool Elevated = true)
{
    const char* sentence = ExplainError(Error, Elevated);
    const std::string narrow = sentence != nullptr ? sentence : "";
    return std::wstring(narrow.begin(), narrow.end());
}

TEST(Messages, EachErrorSaysWhatItMeansAndWhatToDo)
{
    const struct { unsigned long Error; const wchar_t* Says; } rows[] = {
        {2, L"cannot find the driver image"}, {3, L"cannot be reached by the kernel"}, {5, L"holds the file"},
        {193, L"not a valid x64 driver image"}, {577, L"Secure Boot turned off"}, {1056, L"already running"},
        {1058, L"disabled"}, {1060, L"No korimath service"}, {1062, L"not running; that is fine"},
        {1072, L"services.msc"}, {1073, L"already exists"}, {1275, L"CodeIntegrity/Operational"},
    };
    for (const auto& row : rows) {
        EXPECT_NE(Explained(row.Error).find(row.Says), std::wstring::npos) << row.Error;
    }
    EXPECT_EQ(ExplainError(1234567, true), nullptr) << "unknown errors fall back to the system's text";
    // Access denied is "not elevated" only where the process is not.
    EXPECT_NE(Explained(5, false).find(L"Run as administrator"), std::wstring::npos);
    EXPECT_EQ(Explained(5, true).find(L"Run as administrator"), std::wstring::npos);
    EXPECT_EQ(ExitForFailure(5, false, 16), 3);
    EXPECT_EQ(ExitForFailure(5, true, 16), 16) << "the lock refused an administrator: its own code";
    EXPECT_EQ(ExitForFailure(32, false, 4), 4);
}

// What the registry hands back and what a cut leaves: never more than was
// stored, never a cut without its mark.
TEST(Text, StoredLengthsAndMarkedCuts)
{
    const wchar_t stored[] = {L'a', L'b', 0, L'x', L'y'};
    constexpr std::size_t w = sizeof(wchar_t);
    const struct { std::size_t Bytes, Capacity, Length; } rows[] = {{0, 128, 0}, {1, 128, 0}, {2 * w, 128, 2}, {5 * w, 128, 2}, {2 * w, 2, 1}, {2 * w, 0, 0}};
    for (const auto& row : rows) {
        EXPECT_EQ(StoredTextLength(stored, row.Bytes, row.Capacity), row.Length) << row.Bytes << " " << row.Capacity;
    }
    FixedText<16> text;
    text.AppendOrCut(L"0123456789");
    EXPECT_TRUE(text.View() == L"0123456789" && text.Chars[text.Length] == 0) << "NUL-terminated for Win32";
    text.AppendOrCut(L"abcdefghij");
    EXPECT_EQ(text.View(), L"012345678 [cut]") << "15 characters, the mark last";
    for (const wchar_t* high : {L"\xD800", L"\xD83D", L"\xDBFF"}) {
        FixedText<16> pair;
        pair.AppendOrCut(std::wstring(8, L'x') + high + L"\xDE00" + std::wstring(8, L'y'));
        EXPECT_EQ(pair.View(), L"xxxxxxxx [cut]") << "no half surrogate pair before the mark";
    }
    FixedText<16> low;
    low.AppendOrCut(std::wstring(8, L'x') + L"\xDC00" + std::wstring(8, L'y'));
    EXPECT_EQ(low.View(), L"xxxxxxxx\xDC00 [cut]") << "a lone low surrogate is kept";
    FixedText<8> tiny;
    tiny.AppendOrCut(L"\xD83D\xDE00xxxxxxxx");
    EXPECT_EQ(tiny.View(), L" [cut]");
}

// The object's field names, in order, as a fleet tool's rules see them.
std::vector<std::wstring> FieldNames(const std::wstring& Json)
{
    std::vector<std::wstring> names;
    const std::wregex field(L"[{,]\"([A-Za-z0-9_]+)\":");
    for (auto it = std::wsregex_iterator(Json.begin(), Json.end(), field); it != std::wsregex_iterator(); ++it) {
        names.push_back((*it)[1]);
    }
    return names;
}

bool Has(const std::wstring& Json, const wchar_t* Part)
{
    return Json.find(Part) != std::wstring::npos;
}

// No report, a hypervisor (so Windows' own flags are null), a failure: every
// field by name on one line, each unknown null rather than an empty text, and
// escapes.
TEST(JsonReport, EveryFieldOnOneLineWithNullsAndEscapes)
{
    MachineFacts facts;
    facts.Hypervisor.Present = true;
    facts.Hypervisor.Vendor.Append(L"Microsoft Hv");
    facts.Hypervisor.Identity.Append(L"KVMKVMKVM");
    facts.Windows.MemoryIntegrityKnown = true;
    facts.Windows.FirmwareEnabled = true;  // meaningless under a hypervisor
    facts.System.Present = true;
    facts.System.Manufacturer.Append(L"QEMU");
    facts.Cpu.Vmx = true;
    facts.Driver = DriverLoad{true, true, 577};
    Verdict verdict;
    verdict.Id = L"vmx-virtual-machine";
    verdict.Found = Finding::HostDoesNotPass;
    verdict.Text.Append(L"line\none\x01\xFEFF");
    Outcome failed{7, true, true, 577, {}};
    failed.ErrorText.Append(L"start refused: \"x\\y\"");
    const std::wstring json(FormatJsonReport(facts, verdict, failed).View());
    EXPECT_EQ(json.find(L'\n'), json.size() - 1) << "one line";
    const std::vector<std::wstring> expected = {
        L"report", L"report_written", L"report_this_boot", L"report_matches_processor", L"CPU_Vendor", L"CPU_Name",
        L"CPU_VT", L"BIOSLock", L"VMInSMX", L"VMOutSideSMX", L"CR0_NE", L"CR0_PE", L"CR0_PG", L"CR4_VMXE", L"SVM",
        L"SVM_NP", L"VM_CR", L"hypervisor_present", L"hypervisor_vendor", L"hypervisor_name",
        L"hypervisor_root_partition", L"memory_integrity_running", L"windows_virtualization_firmware_enabled",
        L"windows_slat", L"system_manufacturer", L"system_product", L"cpuid_vmx", L"cpuid_smx", L"cpuid_svm",
        L"cpuid_nested_paging", L"cpuid_nx", L"nx_enabled", L"driver_loaded", L"ready", L"blocker", L"verdict",
        L"verdict_text", L"verdict_refined_by_driver", L"windows_edition", L"feature_hyper_v",
        L"feature_virtual_machine_platform", L"feature_hypervisor_platform", L"feature_sandbox", L"feature_wsl",
        L"feature_application_guard", L"whp_usable", L"hypervisor_launch_type", L"vbs_configured", L"vbs_running",
        L"vbs_status", L"vbs_locked", L"credential_guard_configured", L"credential_guard_running",
        L"memory_integrity_configured", L"vbs_policy", L"memory_integrity_policy", L"credential_guard_policy",
        L"hypervisor_launch_event", L"hypervisor_launch_text", L"ready_hyper_v", L"blocker_hyper_v", L"ready_wsl2",
        L"blocker_wsl2", L"ready_sandbox", L"blocker_sandbox", L"ready_whp_programs", L"blocker_whp_programs",
        L"ready_own_hypervisor_programs", L"blocker_own_hypervisor_programs", L"exit_code", L"error", L"error_text"};
    EXPECT_EQ(FieldNames(json), expected);
    for (const wchar_t* field :
         {L"{\"report\":false,\"report_written\":null,\"report_this_boot\":null,",
          L"\"hypervisor_vendor\":\"Microsoft Hv\",\"hypervisor_name\":\"KVM (with Hyper-V enlightenments)\",",
          L"\"memory_integrity_running\":false,\"windows_virtualization_firmware_enabled\":null,\"windows_slat\":null,",
          L"\"system_product\":\"\",\"cpuid_vmx\":1,\"cpuid_smx\":0,\"cpuid_svm\":null,\"cpuid_nested_paging\":null,"
          L"\"cpuid_nx\":null,\"nx_enabled\":true,",
          L"\"driver_loaded\":false,\"ready\":false,\"blocker\":\"host-does-not-pass-through\",",
          L"\"verdict\":\"vmx-virtual-machine\",\"verdict_text\":\"line\\u000aone\\u0001\\ufeff\",",
          L"\"windows_edition\":null,\"feature_hyper_v\":null,",
          L"\"hypervisor_launch_type\":null,\"vbs_configured\":null,\"vbs_running\":null,\"vbs_status\":null,",
          L"\"vbs_policy\":null,\"memory_integrity_policy\":null,\"credential_guard_policy\":null,",
          L"\"ready_own_hypervisor_programs\":false,\"blocker_own_hypervisor_programs\":\"host-does-not-pass-through\",",
          L"\"exit_code\":7,\"error\":577,\"error_text\":\"start refused: \\\"x\\\\y\\\"\"}\n"}) {
        EXPECT_TRUE(Has(json, field)) << std::string(field, field + std::wcslen(field));
    }
}

// An over-long value is cut with a marker, the object stays whole; C1 and
// bidirectional controls are escaped like C0.
TEST(JsonReport, NeverCutSilently)
{
    MachineFacts facts;
    facts.Side.Launch.Found = true;
    facts.Side.Launch.Text.Append(std::wstring(1000, L'\x1B'));  // 6000 characters escaped
    Verdict verdict;
    verdict.Text.Append(L"\x202E" L"evil\x85");
    const JsonText json = FormatJsonReport(facts, verdict, Outcome{});
    const std::wstring text(json.View());
    EXPECT_FALSE(json.Truncated);
    EXPECT_TRUE(Has(text, L"\\u001b [cut]\",\"ready_hyper_v\"")) << "cut at an escape's end, marked";
    EXPECT_TRUE(Has(text, L"\"verdict_text\":\"\\u202eevil\\u0085\""));
    EXPECT_EQ(text.substr(text.size() - 2), L"}\n");
    // 4,096 characters a value, escapes counted whole; a surrogate pair stays whole or goes whole.
    const std::wstring cut = std::wstring(681, L'e') + L" [cut]", kept(682, L'e');
    const struct {
        std::wstring Value, Printed;  // e: an escape
    } rows[] = {{L"xxxxx" + std::wstring(700, L'\x1B'), L"xxxxx" + cut},
                {L"xxxx" + std::wstring(700, L'\x1B'), L"xxxx" + kept + L" [cut]"},
                {L"xxx" + std::wstring(682, L'\x1B') + L"\xD800\xDC00", L"xxx" + kept + L" [cut]"},
                {L"xxx" + std::wstring(682, L'\x1B') + L"\xDBFF\xDFFF", L"xxx" + kept + L" [cut]"},
                {L"xx" + std::wstring(682, L'\x1B') + L"\xD83D\xDE00", L"xx" + kept + L"\xD83D\xDE00"},
                {L"xxx" + std::wstring(682, L'\x1B') + L"\xDC00", L"xxx" + kept + L"\xDC00"}};
    for (const auto& row : rows) {
        verdict.Text.Clear();
        verdict.Text.Append(row.Value);
        std::wstring printed;
        for (const wchar_t c : row.Printed) {
            printed += c == L'e' ? L"\\u001b" : std::wstring(1, c);
        }
        EXPECT_TRUE(Has(std::wstring(FormatJsonReport(facts, verdict, Outcome{}).View()),
                        (L"\"verdict_text\":\"" + printed + L"\",").c_str()))
            << (&row - rows);
    }
}

// With a report, and Windows' own flags meaningful (no hypervisor); a refusal without a Win32 error.
TEST(JsonReport, AReportAndWindowsView)
{
    MachineFacts facts;
    facts.Values.KeyPresent = facts.Values.VendorPresent = facts.Freshness.Known = true;
    facts.Freshness.WrittenUtc.Append(L"2026-12-07T06:15:45Z");
    facts.Windows.Meaningful = facts.Windows.FirmwareEnabled = true;
    facts.Side.ProductType = 0x30;
    facts.Side.Launch.Found = true;
    facts.Side.Launch.Id = 5;
    facts.Side.HypervisorLaunch = LaunchSetting::Off;
    facts.Side.Whp = Platform::Usable;
    facts.Side.Security = Vbs{{}, {}, {}, {}, {}, {}, {true, 2}, {}, true, 0, 2, 6, 2};
    Verdict ready;
    ready.Found = Finding::Enabled;
    Outcome refused{2, true, false, 0, {}};
    refused.ErrorText.Append(L"usage");
    const std::wstring json(FormatJsonReport(facts, ready, refused).View());
    for (const wchar_t* field :
         {L"\"report_written\":\"2026-12-07T06:15:45Z\"", L"\"report_this_boot\":true",
          L"\"windows_virtualization_firmware_enabled\":true", L"\"windows_slat\":false",
          L"\"hypervisor_vendor\":null", L"\"hypervisor_name\":null", L"\"error\":null", L"\"error_text\":\"usage\"",
          L"\"driver_loaded\":null", L"\"ready\":true,\"blocker\":\"none\"", L"\"windows_edition\":\"pro\"",
          L"\"whp_usable\":true,\"hypervisor_launch_type\":\"off\",\"vbs_configured\":true,\"vbs_running\":true,\"vbs_status\":2,",
          L"\"credential_guard_configured\":true,\"credential_guard_running\":true,\"memory_integrity_configured\":true,"
          L"\"vbs_policy\":null,\"memory_integrity_policy\":2,\"credential_guard_policy\":null,",
          L"\"hypervisor_launch_event\":5,\"hypervisor_launch_text\":\"\""}) {
        EXPECT_TRUE(Has(json, field)) << std::string(field, field + std::wcslen(field));
    }
}

}  // namespace
