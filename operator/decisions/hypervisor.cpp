#include "operator/decisions/hypervisor.h"

namespace {

// Microsoft's hypervisor TLFS (Top Level Functional Spec), "Hypervisor
// Discovery": CPUID.1:ECX bit 31 set means a hypervisor is present (Intel's
// SDM Vol. 2A marks the bit reserved; every hypervisor sets it for guests).
constexpr std::uint32_t HypervisorPresentBit = 31;
constexpr std::uint32_t HypervisorVendorLeaf = 0x40000000;
// A second interface at 0x40000100: KVM and Xen move their own leaves there
// when they present Hyper-V's at 0x40000000 to Windows guests.
constexpr std::uint32_t SecondVendorLeaf = 0x40000100;
// TLFS, "Partition Privilege Flags": leaf 0x40000003 EBX holds bits 32-63 of
// HV_PARTITION_PRIVILEGE_MASK. The root partition has CreatePartitions
// (bit 0) and CpuManagement (bit 12) and is not an isolated partition
// (Isolation, bit 22); CreatePartitions alone is a nested (L1VH) guest.
constexpr std::uint32_t HypervPrivilegesLeaf = 0x40000003;
constexpr std::uint32_t CreatePartitions = 1U << 0;
constexpr std::uint32_t CpuManagement = 1U << 12;
constexpr std::uint32_t Isolation = 1U << 22;

template <std::size_t Capacity>
void AppendBytes(FixedText<Capacity>& Text, std::uint32_t Register, bool& Ended)
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

// The hypervisor vendor text is held EBX, ECX, EDX (unlike leaf 0's EBX, EDX, ECX).
FixedText<16> VendorAt(CpuidQuery Query, std::uint32_t Leaf)
{
    const CpuidRegisters vendor = Query(Leaf);
    FixedText<16> text;
    bool ended = false;
    AppendBytes(text, vendor.Ebx, ended);
    AppendBytes(text, vendor.Ecx, ended);
    AppendBytes(text, vendor.Edx, ended);
    return text;
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

std::wstring_view NameOf(std::wstring_view Vendor)
{
    for (const KnownHypervisor& known : KnownHypervisors) {
        if (Vendor == known.Vendor) {
            return known.Name;
        }
    }
    return Vendor.empty() ? std::wstring_view(L"an unnamed hypervisor") : Vendor;
}

}  // namespace

ProcessorIdentity ReadProcessorIdentity(CpuidQuery Query)
{
    ProcessorIdentity identity;
    const CpuidRegisters leaf0 = Query(0);
    bool ended = false;
    AppendBytes(identity.Vendor, leaf0.Ebx, ended);
    AppendBytes(identity.Vendor, leaf0.Edx, ended);
    AppendBytes(identity.Vendor, leaf0.Ecx, ended);
    for (std::uint32_t leaf = 0x80000002; leaf <= 0x80000004; ++leaf) {
        const CpuidRegisters block = Query(leaf);
        ended = false;
        for (const std::uint32_t part : {block.Eax, block.Ebx, block.Ecx, block.Edx}) {
            AppendBytes(identity.Brand, part, ended);
        }
    }
    return identity;
}

HypervisorFacts ReadHypervisorFacts(CpuidQuery Query)
{
    HypervisorFacts facts;
    facts.Present = ((Query(1).Ecx >> HypervisorPresentBit) & 1U) != 0;
    if (!facts.Present) {
        return facts;  // the 0x40000000 range then belongs to the processor, not to a hypervisor
    }
    facts.Vendor = VendorAt(Query, HypervisorVendorLeaf);
    if (facts.Vendor.View() != L"Microsoft Hv") {
        return facts;
    }
    if (Query(HypervisorVendorLeaf).Eax >= HypervPrivilegesLeaf) {
        const std::uint32_t privileges = Query(HypervPrivilegesLeaf).Ebx & (CreatePartitions | CpuManagement | Isolation);
        facts.RootPartition = privileges == (CreatePartitions | CpuManagement);
        facts.NestedRoot = privileges == CreatePartitions;
    }
    // Hyper-V itself leaves 0x40000100 empty; a second interface names its
    // highest leaf within its own range.
    const std::uint32_t secondMax = Query(SecondVendorLeaf).Eax;
    if (secondMax > SecondVendorLeaf && secondMax < SecondVendorLeaf + 0x100) {
        const FixedText<16> second = VendorAt(Query, SecondVendorLeaf);
        if (second.Length != 0 && second.View() != L"Microsoft Hv") {
            facts.Identity = second;
            facts.RootPartition = facts.NestedRoot = false;  // Windows is a guest of that hypervisor
        }
    }
    return facts;
}

HypervisorName NameHypervisor(const HypervisorFacts& Facts, const SystemIdentity& System)
{
    if (Facts.Identity.Length != 0) {
        return {NameOf(Facts.Identity.View()), true};
    }
    // "Microsoft Hv" without a second interface, in a guest whose firmware
    // names another maker: that maker's hypervisor speaks Hyper-V's interface.
    const std::wstring_view host = VirtualMachineHost(System);
    if (Facts.Vendor.View() == L"Microsoft Hv" && !Facts.RootPartition && !Facts.NestedRoot && !host.empty() &&
        host != L"Microsoft Hyper-V") {
        return {host, true};
    }
    return {NameOf(Facts.Vendor.View()), false};
}
