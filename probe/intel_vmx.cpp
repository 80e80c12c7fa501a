#include "probe/intel_vmx.h"

#include "probe/processor_access.h"
#include "report/registry_report.h"

namespace {

// Intel SDM Vol. 2A, CPUID leaf 01H, feature information in ECX.
constexpr unsigned CpuidEcxVmx = 5;
constexpr unsigned CpuidEcxSmx = 6;

// Intel SDM Vol. 4, Table 2-2, and Vol. 3C, 24.7 (23.7 in older editions):
// IA32_FEATURE_CONTROL.
constexpr ULONG Ia32FeatureControl = 0x3A;
constexpr unsigned FeatureControlLock = 0;
constexpr unsigned FeatureControlVmxInsideSmx = 1;
constexpr unsigned FeatureControlVmxOutsideSmx = 2;

// Intel SDM Vol. 3A, 2.5: control registers.
constexpr unsigned Cr0Pe = 0;
constexpr unsigned Cr0Ne = 5;
constexpr unsigned Cr0Pg = 31;
constexpr unsigned Cr4Vmxe = 13;

}  // namespace

void ProbeIntelVmx()
{
    // Every read comes before the first write.
    const CpuidResult leaf1 = Cpuid(1, 0);

    // IA32_FEATURE_CONTROL exists only where CPUID reports VMX or SMX; reading
    // it elsewhere raises #GP. Absent or refused, its three flags read 0, so
    // the report never keeps values from an earlier load on other hardware.
    ULONG64 featureControl = 0;
    if (BitFlag(leaf1.Ecx, CpuidEcxVmx) != 0 || BitFlag(leaf1.Ecx, CpuidEcxSmx) != 0) {
        ReadMsr(Ia32FeatureControl, &featureControl);
    }
    const ULONG64 cr0 = ReadCr0();
    const ULONG64 cr4 = ReadCr4();

    WriteFlagValue(L"CPU_VT", BitFlag(leaf1.Ecx, CpuidEcxVmx));
    WriteFlagValue(L"BIOSLock", BitFlag(featureControl, FeatureControlLock));
    WriteFlagValue(L"VMInSMX", BitFlag(featureControl, FeatureControlVmxInsideSmx));
    WriteFlagValue(L"VMOutSideSMX", BitFlag(featureControl, FeatureControlVmxOutsideSmx));
    WriteFlagValue(L"CR0_NE", BitFlag(cr0, Cr0Ne));
    WriteFlagValue(L"CR0_PE", BitFlag(cr0, Cr0Pe));
    WriteFlagValue(L"CR0_PG", BitFlag(cr0, Cr0Pg));
    WriteFlagValue(L"CR4_VMXE", BitFlag(cr4, Cr4Vmxe));
}
