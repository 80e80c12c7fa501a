// The operator's texts that do not depend on Windows: error sentences and the
// JSON report.
#include <gtest/gtest.h>

#include <string>

#include "operator/json_report.h"
#include "operator/messages.h"

namespace {

std::wstring Explained(unsigned long Error)
{
    const wchar_t* sentence = ExplainError(Error);
    return sentence != nullptr ? sentence : L"";
}

TEST(Messages, EachErrorSaysWhatItMeansAndWhatToDo)
{
    const struct {
        unsigned long Error;
        const wchar_t* Says;
    } rows[] = {
        {2, L"cannot find the driver image"},
        {3, L"cannot be reached by the kernel"},
        {5, L"Run as administrator"},
        {577, L"Secure Boot turned off"},
        {1056, L"already running; that is fine"},
        {1058, L"disabled"},
        {1060, L"No korimath service is installed"},
        {1062, L"not running; that is fine"},
        {1072, L"services.msc"},
        {1073, L"already exists"},
        {1275, L"CodeIntegrity/Operational"},
        {193, L"not a valid x64 driver image"},
    };
    for (const auto& row : rows) {
        EXPECT_NE(Explained(row.Error).find(row.Says), std::wstring::npos) << row.Error;
    }
    EXPECT_EQ(ExplainError(1234567), nullptr) << "unknown errors fall back to the system's text";
}

TEST(JsonReport, EveryFieldWithNullsAndEscapes)
{
    Report values;
    values.KeyPresent = true;
    values.VendorPresent = true;
    values.Vendor.Append(L"Genuine\"In\\tel");
    values[ReportFlag::CpuVt] = FlagValue{true, 1};
    values[ReportFlag::Cr4Vmxe] = FlagValue{true, 0};
    HypervisorFacts hypervisor;
    hypervisor.Present = true;
    hypervisor.Vendor.Append(L"Microsoft Hv");
    hypervisor.RootPartition = true;
    Verdict verdict;
    verdict.Id = L"vmx-in-use";
    verdict.Text.Append(L"line\none\x01");

    EXPECT_EQ(std::wstring(FormatJsonReport(values, hypervisor, verdict).View()),
              L"{\n"
              L"  \"report\": true,\n"
              L"  \"CPU_Vendor\": \"Genuine\\\"In\\\\tel\",\n"
              L"  \"CPU_Name\": null,\n"
              L"  \"CPU_VT\": 1,\n"
              L"  \"BIOSLock\": null,\n"
              L"  \"VMInSMX\": null,\n"
              L"  \"VMOutSideSMX\": null,\n"
              L"  \"CR0_NE\": null,\n"
              L"  \"CR0_PE\": null,\n"
              L"  \"CR0_PG\": null,\n"
              L"  \"CR4_VMXE\": 0,\n"
              L"  \"SVM\": null,\n"
              L"  \"SVM_NP\": null,\n"
              L"  \"VM_CR\": null,\n"
              L"  \"hypervisor_present\": true,\n"
              L"  \"hypervisor_vendor\": \"Microsoft Hv\",\n"
              L"  \"hypervisor_root_partition\": true,\n"
              L"  \"verdict\": \"vmx-in-use\",\n"
              L"  \"verdict_text\": \"line\\u000aone\\u0001\"\n"
              L"}\n");
}

}  // namespace
