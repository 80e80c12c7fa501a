// What CPUID tells an ordinary program about the hypervisor beneath Windows.
// These leaves need no privilege, so the operator's program reads them itself.
#pragma once

#include <cstdint>
#include <string_view>

#include "operator/text.h"

struct CpuidRegisters {
    std::uint32_t Eax, Ebx, Ecx, Edx;
};

struct HypervisorFacts {
    bool Present = false;        // CPUID.1:ECX bit 31
    FixedText<16> Vendor;        // CPUID.40000000h EBX, ECX, EDX, up to the first NUL
    bool RootPartition = false;  // Hyper-V's CreatePartitions privilege: Windows is its root
};

// Reads the leaves with the given query (CPUID itself in the program, a table
// in the tests). Leaf 0x40000003 is asked only of "Microsoft Hv" whose
// highest hypervisor leaf reaches it.
using CpuidQuery = CpuidRegisters (*)(std::uint32_t Leaf);
HypervisorFacts ReadHypervisorFacts(CpuidQuery Query);

// "KVM", "VMware", ... for the hypervisors users know by name; the raw vendor
// text for any other.
std::wstring_view HypervisorDisplayName(const HypervisorFacts& Facts);
