#include "operator/decisions/verdict.h"

#include "operator/decisions/verdict_text.h"

namespace {

constexpr Feature VtX{true,
                      "VT-x",
                      "VMX",
                      "\"Intel Virtualization Technology\" (some firmware says \"VT-x\" or \"Vanderpool\"; VT-d is "
                      "a different switch)",
                      ReportFlag::CpuVt,
                      L"vmx-enabled",
                      L"vmx-disabled-in-firmware",
                      L"vmx-unsupported",
                      L"vmx-hidden-after-boot",
                      L"vmx-hidden-by-hyper-v",
                      L"vmx-nested-root",
                      L"vmx-virtual-machine",
                      L"vmx-hidden-virtual-machine"};
constexpr Feature AmdV{false,
                       "AMD-V",
                       "SVM",
                       "\"SVM Mode\" (some firmware says \"SVM\" or \"AMD-V\")",
                       ReportFlag::Svm,
                       L"svm-enabled",
                       L"svm-disabled-in-firmware",
                       L"svm-unsupported",
                       L"svm-hidden-after-boot",
                       L"svm-hidden-by-hyper-v",
                       L"svm-nested-root",
                       L"svm-virtual-machine",
                       L"svm-hidden-virtual-machine"};

// The feature CPUID shows; when it shows neither (hidden, or absent), the
// one the vendor makes.
const Feature& FeatureOf(const MachineFacts& Facts)
{
    if (Facts.Cpu.Vmx || Facts.Cpu.Svm) {
        return Facts.Cpu.Vmx ? VtX : AmdV;
    }
    const std::wstring_view vendor = Facts.Processor.Vendor.View();
    return vendor == L"AuthenticAMD" || vendor == L"HygonGenuine" ? AmdV : VtX;
}

MachineClass ClassOf(const MachineFacts& Facts)
{
    const HypervisorFacts& hypervisor = Facts.Hypervisor;
    if (!hypervisor.Present) {
        // No hypervisor bit, but the firmware names a virtual machine: its
        // hypervisor hides itself (common with GPU passthrough).
        return NamesVirtualMachine(Facts.System) ? MachineClass::HiddenGuest : MachineClass::BareMetal;
    }
    if (hypervisor.RootPartition) {
        return MachineClass::HyperVRoot;
    }
    return hypervisor.NestedRoot ? MachineClass::NestedRoot : MachineClass::Guest;
}

// The driver reads the registers of these two vendors only.
bool DriverReads(const Feature& What, const MachineFacts& Facts)
{
    return Facts.Processor.Vendor.View() == (What.Vmx ? L"GenuineIntel" : L"AuthenticAMD");
}

std::string_view KernelOnly(const Feature& What)
{
    return What.Vmx ? "IA32_FEATURE_CONTROL's lock and enable bits and CR4.VMXE" : "VM_CR.SVMDIS";
}

void SetAside(Verdict& Result, std::string_view Why)
{
    Result.Text.Append(" The report under HKLM\\Software\\Korimath ");
    Result.Text.Append(Why);
    Result.Text.Append(", so its values were set aside; \"korimath run\" from an elevated prompt writes a fresh "
                       "one.");
}

void AppendStale(Verdict& Result, const MachineFacts& Facts)
{
    const ReportFreshness& fresh = Facts.Freshness;
    if (!fresh.ThisBoot) {
        SetAside(Result, "was written before Windows last started (with Fast Startup, that is the last restart, "
                         "not the last power-on)");
    } else {
        SetAside(Result, "is about another processor");
    }
    Basis basis(Result);
    if (fresh.Known) {
        basis.Named(L"written", fresh.WrittenUtc.View());
    }
    basis.Named(L"CPU_Vendor", Facts.Values.Vendor.View()).Named(L"CPU_Name", Facts.Values.Name.View());
}

// What the report adds, or why it adds nothing.
void ApplyReport(Verdict& Result, const Feature& What, const MachineFacts& Facts, MachineClass Class)
{
    const Report& values = Facts.Values;
    const bool refinable = Class == MachineClass::BareMetal && Offered(What, Facts.Cpu) && DriverReads(What, Facts);
    if (values.Written()) {
        const FlagValue& flag = values[What.Flag];
        if (Facts.Freshness.Stale()) {
            AppendStale(Result, Facts);
        } else if (flag.Present && (flag.Value != 0) != Offered(What, Facts.Cpu)) {
            if (Class != MachineClass::BareMetal || flag.Value == 0) {  // bare metal: the verdict rests on it
                SetAside(Result, flag.Value != 0 ? "says the processor offered it, and CPUID no longer does: "
                                                   "something changed since it was written (a hypervisor now hides it)"
                                                 : "says the processor did not offer it, and CPUID now does: "
                                                   "something changed since it was written (a hypervisor that hid "
                                                   "it is gone)");
            }
            Basis(Result).Flags(values, {What.Flag});
        } else if (refinable) {
            Result.RefinedByDriver = RefineBareMetal(Result, What, Facts);
            if (!Result.RefinedByDriver) {
                SetAside(Result, "lacks values the verdict needs");
            }
        }
    }
    if (refinable && !Result.RefinedByDriver) {
        if (Facts.Driver.Failed) {
            Result.Text.Append(" The driver could not load, so ");
            Result.Text.Append(KernelOnly(What));
            Result.Text.Append(What.Vmx ? " were not read" : " was not read");
            Result.Text.Append("; this verdict rests on CPUID and Windows' view.");
            Basis(Result).Number(L"driver error", Facts.Driver.Error);
        } else if (!values.Written()) {
            Result.Text.Append(" \"korimath run\" from an elevated prompt adds what only its driver reads: ");
            Result.Text.Append(KernelOnly(What));
            Result.Text.Append(".");
        }
    }
    if (Class == MachineClass::BareMetal && Offered(What, Facts.Cpu) && !DriverReads(What, Facts)) {
        Result.Text.Append(" korimath's driver reads the firmware's registers of \"GenuineIntel\" and "
                           "\"AuthenticAMD\" processors only; this verdict rests on CPUID and Windows' view.");
    }
}

}  // namespace

Verdict DecideVerdict(const MachineFacts& Facts)
{
    if (!Facts.NativeX64) {
        return Make(L"not-x64-processor", Finding::NotX64,
                    "This is not an x64 processor: Windows on Arm runs this program under emulation, but "
                    "korimath's x64 driver cannot load here, so this processor is not checked.");
    }
    const Feature& what = FeatureOf(Facts);
    const MachineClass machine = ClassOf(Facts);
    Verdict result;
    switch (machine) {
    case MachineClass::HyperVRoot:
        result = HiddenByHyperV(what, Facts);
        break;
    case MachineClass::NestedRoot:
        result = NestedRootPartition(what, Facts);
        break;
    case MachineClass::Guest:
    case MachineClass::HiddenGuest:
        result = VirtualMachine(what, Facts, machine);
        break;
    case MachineClass::BareMetal:
        result = BareMetal(what, Facts);
        break;
    }
    ApplyReport(result, what, Facts, machine);
    result.Vmx = what.Vmx;
    return result;
}
