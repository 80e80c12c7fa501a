// What CPUID tells an ordinary program: the processor's identity texts, as
// the driver forms them, and the hypervisor beneath Windows. These leaves
// need no privilege, so the operator's program reads them itself.
#pragma once

#include <cstdint>
#include <string_view>

#include "operator/decisions/smbios.h"
#include "operator/decisions/text.h"

struct CpuidRegisters {
    std::uint32_t Eax, Ebx, Ecx, Edx;
};

// Reads the leaves with the given query (CPUID itself in the program, a table
// in the tests).
using CpuidQuery = CpuidRegisters (*)(std::uint32_t Leaf);

// CPU_Vendor and CPU_Name as the driver writes them: leaf 0's vendor text up
// to its first NUL; leaves 0x80000002-0x80000004, each block up to its own
// NUL, joined.
struct ProcessorIdentity {
    FixedText<16> Vendor;
    FixedText<64> Brand;
};
ProcessorIdentity ReadProcessorIdentity(CpuidQuery Query);

struct HypervisorFacts {
    bool Present = false;        // CPUID.1:ECX bit 31
    FixedText<16> Vendor;        // CPUID.40000000h EBX, ECX, EDX, up to the first NUL
    FixedText<16> Identity;      // behind "Microsoft Hv": the vendor at 40000100h (KVM, Xen), if any
    bool RootPartition = false;  // Windows is the root partition of Microsoft's hypervisor
    bool NestedRoot = false;     // a nested root (L1VH): creates partitions, manages no processors
};

// Leaf 0x40000003 is asked only of "Microsoft Hv" whose highest hypervisor
// leaf reaches it, 0x40000100 only behind "Microsoft Hv".
HypervisorFacts ReadHypervisorFacts(CpuidQuery Query);

// "KVM", "VMware", ... for the hypervisors users know by name; the raw vendor
// text for any other. Another hypervisor behind Hyper-V's interface (named
// at 0x40000100, or else by the firmware's SMBIOS names) is Enlightened:
// "KVM (with Hyper-V enlightenments)".
struct HypervisorName {
    std::wstring_view Name;
    bool Enlightened = false;
};
HypervisorName NameHypervisor(const HypervisorFacts& Facts, const SystemIdentity& System);
