#include "probe/amd_svm.h"

#include "probe/processor_access.h"
#include "report/registry_report.h"

namespace {

// AMD APM Vol. 3, Appendix E: CPUID Fn8000_0001 ECX bit 2 (SVM) and
// Fn8000_000A EDX bit 0 (NP, nested paging).
constexpr ULONG ExtendedFeatureLeaf = 0x80000001;
constexpr unsigned ExtendedEcxSvm = 2;
constexpr ULONG SvmFeatureLeaf = 0x8000000A;
constexpr unsigned SvmEdxNestedPaging = 0;

// AMD APM Vol. 2, 15.30.1: VM_CR MSR, bit 4 SVMDIS (firmware disabled SVM).
constexpr ULONG VmCrMsr = 0xC0010114;
constexpr unsigned VmCrSvmDisable = 4;

}  // namespace

void ProbeAmdSvm()
{
    const ULONG svm = BitFlag(Cpuid(ExtendedFeatureLeaf, 0).Ecx, ExtendedEcxSvm);
    WriteFlagValue(L"SVM", svm);

    // Queried whether or not SVM is reported; its bit is written as it comes.
    WriteFlagValue(L"SVM_NP", BitFlag(Cpuid(SvmFeatureLeaf, 0).Edx, SvmEdxNestedPaging));

    // "VM_CR" is 1 when firmware allows SVM, i.e. SVMDIS is clear. VM_CR exists
    // only where SVM is reported; reading it elsewhere raises #GP. Absent or
    // refused, the flag reads 0: SVM cannot be used.
    ULONG svmAllowed = 0;
    ULONG64 vmCr = 0;
    if (svm != 0 && ReadMsr(VmCrMsr, &vmCr)) {
        svmAllowed = 1U - BitFlag(vmCr, VmCrSvmDisable);
    }
    WriteFlagValue(L"VM_CR", svmAllowed);
}
