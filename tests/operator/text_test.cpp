// The operator's texts that do not depend on Windows: error sentences and the
// JSON report.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "operator/decisions/json_report.h"
#include "operator/decisions/messages.h"

namespace {

std::wstring Explained(unsigned long Error)
{
    const char* sentence = ExplainError(Error);
    const std::string narrow = sentence != nullptr ? sentence : "";
    return std::wstring(narrow.begin(), narrow.end());
}

TEST(Messages, EachErrorSaysWhatItMeansAndWhatToDo)
{
    const struct {
        unsigned long Error;
        const wchar_t* Says;
    } rows[] = {
        {2, L"cannot find the driver image"}, {3, L"cannot be reached by the kernel"}, {5, L"Run as administrator"},
        {193, L"not a valid x64 driver image"}, {577, L"Secure Boot turned off"}, {1056, L"already running"},
        {1058, L"disabled"}, {1060, L"No korimath service"}, {1062, L"not running; that is fine"},
        {1072, L"services.msc"}, {1073, L"already exists"}, {1275, L"CodeIntegrity/Operational"},
    };
    for (const auto& row : rows) {
        EXPECT_NE(Explained(row.Error).find(row.Says), std::wstring::npos) << row.Error;
    }
    EXPECT_EQ(ExplainError(1234567), nullptr) << "unknown errors fall back to the system's text";
}

// No report, a hypervisor (so Windows' own flags are null), a failure: every
// field by name, each unknown null rather than an empty text, and escapes.
TEST(JsonReport, EveryFieldWithNullsAndEscapes)
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
    verdict.Id = L"driver-not-loaded";
    verdict.Text.Append(L"line\none\x01");
    Outcome failed{7, true, true, 577, {}};
    failed.ErrorText.Append(L"start refused: \"x\\y\"");

    EXPECT_EQ(std::wstring(FormatJsonReport(facts, verdict, failed).View()),
              L"{\n  \"report\": false,\n  \"report_written\": null,\n  \"report_this_boot\": null,\n"
              L"  \"report_matches_processor\": null,\n  \"CPU_Vendor\": null,\n  \"CPU_Name\": null,\n"
              L"  \"CPU_VT\": null,\n  \"BIOSLock\": null,\n  \"VMInSMX\": null,\n  \"VMOutSideSMX\": null,\n"
              L"  \"CR0_NE\": null,\n  \"CR0_PE\": null,\n  \"CR0_PG\": null,\n  \"CR4_VMXE\": null,\n"
              L"  \"SVM\": null,\n  \"SVM_NP\": null,\n  \"VM_CR\": null,\n  \"hypervisor_present\": true,\n"
              L"  \"hypervisor_vendor\": \"Microsoft Hv\",\n"
              L"  \"hypervisor_name\": \"KVM (with Hyper-V enlightenments)\",\n"
              L"  \"hypervisor_root_partition\": false,\n  \"memory_integrity_running\": false,\n"
              L"  \"windows_virtualization_firmware_enabled\": null,\n  \"windows_slat\": null,\n"
              L"  \"system_manufacturer\": \"QEMU\",\n  \"system_product\": \"\",\n"
              L"  \"cpuid_vmx\": 1,\n  \"cpuid_smx\": 0,\n  \"cpuid_svm\": null,\n  \"cpuid_nested_paging\": null,\n"
              L"  \"driver_loaded\": false,\n"
              L"  \"verdict\": \"driver-not-loaded\",\n  \"verdict_text\": \"line\\u000aone\\u0001\",\n"
              L"  \"verdict_refined_by_driver\": false,\n"
              L"  \"exit_code\": 7,\n  \"error\": 577,\n  \"error_text\": \"start refused: \\\"x\\\\y\\\"\"\n}\n");
}

// With a report, and Windows' own flags meaningful (no hypervisor).
TEST(JsonReport, AReportAndWindowsView)
{
    MachineFacts facts;
    facts.Values.KeyPresent = facts.Values.VendorPresent = facts.Freshness.Known = true;
    facts.Freshness.WrittenUtc.Append(L"2026-12-07T06:15:45Z");
    facts.Windows.Meaningful = facts.Windows.FirmwareEnabled = true;
    Outcome refused{2, true, false, 0, {}};  // a refusal without a Win32 error
    refused.ErrorText.Append(L"usage");
    const std::wstring json(FormatJsonReport(facts, Verdict{}, refused).View());
    for (const wchar_t* field : {L"\"report_written\": \"2026-12-07T06:15:45Z\"", L"\"report_this_boot\": true",
                                 L"\"windows_virtualization_firmware_enabled\": true", L"\"windows_slat\": false",
                                 L"\"hypervisor_vendor\": null", L"\"hypervisor_name\": null", L"\"error\": null",
                                 L"\"error_text\": \"usage\"", L"\"driver_loaded\": null", L"\"cpuid_svm\": null"}) {
        EXPECT_NE(json.find(field), std::wstring::npos) << std::string(field, field + std::wcslen(field));
    }
}

}  // namespace
