#include "operator/decisions/host_steps.h"

#include <algorithm>

namespace {

// QEMU without KVM emulates the processor and passes nothing through.
constexpr std::string_view KvmNesting =
    "On the Linux host: run this virtual machine with KVM (QEMU \"-accel kvm\"), load kvm_intel (kvm_amd on AMD) "
    "with nested=1, and give it the host's processor model (\"-cpu host\", libvirt \"host-passthrough\") (Linux "
    "kernel documentation, \"Running nested guests with KVM\").";

struct KnownHost {
    std::wstring_view Name;  // as NameHypervisor or the firmware's names give it
    HostStep Step;
};

// Microsoft Learn, "Run Hyper-V in a Virtual Machine with Nested
// Virtualization"; VMware Workstation, Fusion and ESXi documentation;
// VirtualBox manual, "Nested Virtualization" (and microsoft/WSL#5430 for
// Windows' hypervisor inside it); Linux kernel documentation, "Running
// nested guests with KVM"; xl.cfg(5); Parallels Desktop documentation.
constexpr KnownHost Hosts[] = {
    {L"Microsoft Hyper-V",
     {true, "On the Hyper-V host, with this virtual machine off: \"Set-VMProcessor -VMName <name> "
            "-ExposeVirtualizationExtensions $true\" (Microsoft Learn, \"Run Hyper-V in a Virtual Machine with Nested "
            "Virtualization\"; on AMD the host needs Windows 11 or Windows Server 2022 or later)."}},
    {L"VMware",
     {true, "In this virtual machine's settings, with it off: Processors > \"Virtualize Intel VT-x/EPT or AMD-V/RVI\" "
            "(VMware Workstation and Fusion), or \"Expose hardware assisted virtualization to the guest OS\" (ESXi)."}},
    {L"VirtualBox",
     {true, "With this virtual machine off: Settings > System > Processor > \"Enable Nested VT-x/AMD-V\", or "
            "\"VBoxManage modifyvm <name> --nested-hw-virt on\" (VirtualBox manual, \"Nested Virtualization\"). "
            "Programs with a hypervisor of their own can then use it; Windows' own hypervisor (Hyper-V, WSL 2, "
            "Sandbox) is reported not to start inside VirtualBox even so (microsoft/WSL#5430)."}},
    {L"KVM", {true, KvmNesting}},
    {L"QEMU", {true, KvmNesting}},
    {L"Xen", {true, "In this guest's configuration on the Xen host: \"nestedhvm=1\" (xl.cfg), then start it again."}},
    {L"Parallels",
     {true, "In Parallels Desktop, with this virtual machine off: Hardware > CPU & Memory > Advanced > \"Enable "
            "nested virtualization\" (Pro and Business editions)."}},
    {L"bhyve", {false, "bhyve offers its guests no nested virtualization: virtual machines cannot run inside this one."}},
    {L"ACRN", {false, "ACRN offers its guests no nested virtualization: virtual machines cannot run inside this one."}},
    {L"QNX", {false, "QNX's hypervisor offers its guests no nested virtualization: virtual machines cannot run inside "
                     "this one."}},
};

// Amazon EC2 User Guide, "Use nested virtualization to run hypervisors in
// Amazon EC2 instances": C8i, M8i and R8i instances, turned on in their CPU
// options, and bare-metal instances. Nitro names the instance type as the
// product ("m8i.large").
bool NestingInstanceType(std::wstring_view Type)
{
    constexpr std::wstring_view families[] = {L"c8i", L"m8i", L"r8i"};
    return std::ranges::any_of(families, [&](std::wstring_view Family) {
        const wchar_t next = Type.size() > Family.size() ? Type[Family.size()] : L'\0';
        return Head(Type, Family.size()) == Family && (next == L'.' || next == L'-');
    });
}

}  // namespace

HostStep NestingStep(const MachineFacts& Facts)
{
    switch (CloudOf(Facts.System)) {
    case Cloud::Azure:
        return {true, "This is an Azure virtual machine: Azure offers nested virtualization only on the sizes whose "
                      "page says so (Microsoft Learn, each size's page and the ACU table; for example Dv5 and Ev5), "
                      "and not with the ConfidentialVM security type. Resize it to such a size."};
    case Cloud::AmazonEc2:
        return NestingInstanceType(Facts.System.Product.View())
                   ? HostStep{true, "Amazon EC2 offers nested virtualization on this instance type: with the instance "
                                    "stopped, turn it on in its CPU options (Amazon EC2 User Guide, \"Use nested "
                                    "virtualization to run hypervisors in Amazon EC2 instances\"); Windows then turns "
                                    "Credential Guard off."}
                   : HostStep{true, "Amazon EC2 offers nested virtualization only on C8i, M8i and R8i instances, turned "
                                    "on in their CPU options, and on bare-metal instances (Amazon EC2 User Guide, "
                                    "\"Use nested virtualization to run hypervisors in Amazon EC2 instances\"): change "
                                    "this instance's type."};
    case Cloud::GoogleComputeEngine:
        return {false, "Google Compute Engine offers nested virtualization only to Linux KVM in Intel-based virtual "
                       "machines; Microsoft Hyper-V is not supported there (Google Cloud, \"About nested "
                       "virtualization\"): virtual machines cannot run inside this one."};
    case Cloud::None:
        break;
    }
    const std::wstring_view named = Facts.Hypervisor.Present ? NameHypervisor(Facts.Hypervisor, Facts.System).Name
                                                             : VirtualMachineHost(Facts.System);
    for (const KnownHost& host : Hosts) {
        if (host.Name == named) {
            return host.Step;
        }
    }
    return {true, "Turn on nested virtualization for this virtual machine on its host, where the host offers it."};
}
