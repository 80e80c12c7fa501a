#include "operator/hypervisor.h"

namespace {

// Intel SDM Vol. 2A, CPUID leaf 01H: ECX bit 31 is reserved for hypervisors
// and set by every one of them for its guests.
constexpr std::uint32_t HypervisorPresentBit = 31;
constexpr std::uint32_t HypervisorVendorLeaf = 0x40000000;
// Microsoft's Hyper-V TLFS, "Partition Privilege Flags": leaf 0x40000003 EBX
// bit 0, CreatePartitions, is granted only to the root partition.
constexpr std::uint32_t HypervPrivilegesLeaf = 0x40000003;
constexpr std::uint32_t CreatePartitionsBit = 0;

void AppendRegisterBytes(FixedText<16>& Text, std::uint32_t Register, bool& Ended)
{
    for (unsigned i = 0; i < 4 && !Ended; ++i) {
        const auto byte = static_cast<unsigned char>(Register >> (8 * i));
        if (byte == 0) {
            Ended = true;
        } else {
            const wchar_t c = byte;
            Text.Append(std::wstring_view(&c, 1));
        }
    }
}

struct KnownHypervisor {
    std::wstring_view Vendor;
    std::wstring_view Name;
};

constexpr KnownHypervisor KnownHypervisors[] = {
    {L"Microsoft Hv", L"Microsoft Hyper-V"},
    {L"VMwareVMware", L"VMware"},
    {L"KVMKVMKVM", L"KVM"},
    {L"Linux KVM Hv", L"KVM"},
    {L"XenVMMXenVMM", L"Xen"},
    {L"VBoxVBoxVBox", L"VirtualBox"},
    {L" lrpepyh  vr", L"Parallels"},
    {L"TCGTCGTCGTCG", L"QEMU"},
    {L"bhyve bhyve ", L"bhyve"},
    {L"ACRNACRNACRN", L"ACRN"},
    {L"QNXQVMBSQG", L"QNX"},
};

}  // namespace

HypervisorFacts ReadHypervisorFacts(CpuidQuery Query)
{
    HypervisorFacts facts;
    facts.Present = ((Query(1).Ecx >> HypervisorPresentBit) & 1U) != 0;
    if (!facts.Present) {
        return facts;  // the 0x40000000 range then belongs to the processor, not to a hypervisor
    }
    // The hypervisor's vendor text is held EBX, ECX, EDX (unlike leaf 0's EBX, EDX, ECX).
    const CpuidRegisters vendor = Query(HypervisorVendorLeaf);
    bool ended = false;
    AppendRegisterBytes(facts.Vendor, vendor.Ebx, ended);
    AppendRegisterBytes(facts.Vendor, vendor.Ecx, ended);
    AppendRegisterBytes(facts.Vendor, vendor.Edx, ended);
    if (facts.Vendor.View() == L"Microsoft Hv" && vendor.Eax >= HypervPrivilegesLeaf) {
        facts.RootPartition = ((Query(HypervPrivilegesLeaf).Ebx >> CreatePartitionsBit) & 1U) != 0;
    }
    return facts;
}

std::wstring_view HypervisorDisplayName(const HypervisorFacts& Facts)
{
    for (const KnownHypervisor& known : KnownHypervisors) {
        if (Facts.Vendor.View() == known.Vendor) {
            return known.Name;
        }
    }
    return Facts.Vendor.Length != 0 ? Facts.Vendor.View() : std::wstring_view(L"an unnamed hypervisor");
}
