// The verdicts of a Windows that runs on a hypervisor: Hyper-V's root
// partition, a nested root, a guest, and a guest whose hypervisor hides.
#include "operator/decisions/host_steps.h"
#include "operator/decisions/verdict_text.h"

namespace {

// WSL 2 and Sandbox use Windows' hypervisor directly; the Windows Hypervisor
// Platform is the API other programs use, a feature of its own.
constexpr std::string_view WindowsHypervisorPrograms =
    "WSL 2, Windows Sandbox and Hyper-V, and, with the Windows Hypervisor Platform feature on, the Android Emulator, "
    "VMware Workstation 15.5.5 and later, and VirtualBox 6 and later in its Hyper-V mode";

}  // namespace

void AppendHost(VerdictText& Text, const MachineFacts& Facts)
{
    const HypervisorName host = NameHypervisor(Facts.Hypervisor, Facts.System);
    Text.Append(host.Name.empty() ? std::wstring_view(L"an unnamed hypervisor") : host.Name);
    if (host.Enlightened) {
        Text.Append(" (with Hyper-V enlightenments)");
    }
}

// Windows is the root partition: Microsoft's hypervisor owns the feature and
// hides it. Nesting is offered to guest partitions only, never to the root
// (Microsoft Learn, "Run Hyper-V in a Virtual Machine with Nested
// Virtualization"), so no report can make this "enabled and ready".
Verdict HiddenByHyperV(const Feature& What, const MachineFacts& Facts)
{
    const WindowsView& windows = Facts.Windows;
    Verdict result = Make(What.HiddenByHyperV, Finding::WindowsHypervisor, What.Name);
    result.Text.Append(" is enabled, and in use by Windows' own hypervisor: Windows runs as the root partition of "
                       "Microsoft's hypervisor, which owns it and hides it from Windows. No firmware change is "
                       "needed. Programs that use Windows' hypervisor run here: ");
    result.Text.Append(WindowsHypervisorPrograms);
    result.Text.Append(". Only programs that need ");
    result.Text.Append(What.Name);
    result.Text.Append(" for a hypervisor of their own (VirtualBox's own engine, Intel HAXM, older VMware) cannot; "
                       "their Windows Hypervisor Platform mode, where they have one, keeps every protection. "
                       "Otherwise everything that keeps Windows' hypervisor running must be turned off, at the cost "
                       "of this machine's protection (\"What runs here\" names each thing here and its cost), or, "
                       "all at once and reversibly, \"bcdedit /set hypervisorlaunchtype off\" and a restart (undo: "
                       "\"bcdedit /set hypervisorlaunchtype auto\").");
    Basis basis(result);
    basis.Cpuid(What, Facts.Cpu).Hypervisor(Facts.Hypervisor);
    if (windows.MemoryIntegrityKnown) {
        basis.Item(windows.MemoryIntegrityRunning ? L"memory integrity on" : L"memory integrity off");
    }
    return result;
}

// CreatePartitions without CpuManagement (Azure's L1VH): partitions come
// from Windows' hypervisor; the feature itself is never this Windows'.
Verdict NestedRootPartition(const Feature& What, const MachineFacts& Facts)
{
    Verdict result = Make(What.NestedRoot, Finding::NestedRoot, "Windows runs as a nested root partition of Microsoft's hypervisor: "
                                           "it creates virtual machines through that hypervisor, so ");
    result.Text.Append(WindowsHypervisorPrograms);
    result.Text.Append(" can run. ");
    result.Text.Append(What.Name);
    result.Text.Append(" itself is not available to a hypervisor of its own here, whatever the settings; nested "
                       "virtualization need not be turned on for this.");
    Basis(result).Cpuid(What, Facts.Cpu).Hypervisor(Facts.Hypervisor);
    return result;
}

Verdict VirtualMachine(const Feature& What, const MachineFacts& Facts, MachineClass Class)
{
    const bool passed = Offered(What, Facts.Cpu);
    Verdict result;
    if (Class == MachineClass::HiddenGuest) {
        result = Make(What.HiddenVirtualMachine, passed ? Finding::HostPasses : Finding::HostDoesNotPass,
                      "This looks like a virtual machine whose hypervisor hides itself "
                                                 "from CPUID: its firmware names ");
        result.Text.Append(Facts.System.Manufacturer.View());
        result.Text.Append(" \"");
        result.Text.Append(Facts.System.Product.View());
        result.Text.Append("\"");
    } else {
        result = Make(What.VirtualMachine, passed ? Finding::HostPasses : Finding::HostDoesNotPass, "Windows runs as a virtual machine under ");
        AppendHost(result.Text, Facts);
    }
    result.Text.Append(passed ? ", which passes " : ", which does not pass ");
    result.Text.Append(What.Name);
    result.Text.Append(passed ? " through to it (nested virtualization): hypervisors inside this virtual machine can "
                                "use it as far as the host allows. Firmware settings are the host's, not this "
                                "machine's."
                              : " through to it; this machine's firmware settings are not the cause. ");
    if (!passed) {
        result.Text.Append(NestingStep(Facts).Text);
    }
    {
        Basis basis(result);
        basis.Cpuid(What, Facts.Cpu).Hypervisor(Facts.Hypervisor);
        if (Facts.System.Manufacturer.Length != 0) {
            basis.Named(L"system", Facts.System.Manufacturer.View());
        }
    }
    if (passed) {
        AppendSlat(result, What, Facts);  // a host may pass VT-x or AMD-V without SLAT
    }
    return result;
}
