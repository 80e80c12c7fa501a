// The system's manufacturer and product from the firmware's SMBIOS table
// (GetSystemFirmwareTable('RSMB')), which names a virtual machine even when
// its hypervisor hides itself from CPUID.
#pragma once

#include <cstddef>

#include "operator/decisions/text.h"

struct SystemIdentity {
    bool Present = false;  // a System Information structure (type 1) was found
    FixedText<64> Manufacturer;
    FixedText<64> Product;
    FixedText<64> AssetTag;  // the System Enclosure's (type 3)
};

// Raw is what GetSystemFirmwareTable returns: the RawSMBIOSData header (calling
// method, versions, table length) and the structure table. Any malformed or
// truncated table gives what could be read before the fault, never more.
SystemIdentity ParseSmbiosSystem(const unsigned char* Raw, std::size_t Size);

// The hypervisor the firmware names: "QEMU", "VMware", "VirtualBox" (also
// innotek), "Microsoft Hyper-V" ("Microsoft Corporation", "Virtual Machine"),
// "Xen", "Parallels", "bhyve", "KVM"; empty for a physical machine.
std::wstring_view VirtualMachineHost(const SystemIdentity& System);
inline bool NamesVirtualMachine(const SystemIdentity& System)
{
    return !VirtualMachineHost(System).empty();
}

// The public clouds, by the SMBIOS names each documents.
enum class Cloud { None, Azure, AmazonEc2, GoogleComputeEngine };
Cloud CloudOf(const SystemIdentity& System);

// An Intel Mac running Windows (Boot Camp): its firmware has no setup screen.
bool AppleHardware(const SystemIdentity& System);
