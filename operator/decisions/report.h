// The driver's report as the operator's program reads it back from
// HKLM\Software\Korimath: two texts and up to eleven 0/1 flags, any of which
// may be missing.
#pragma once

#include "operator/decisions/text.h"

// In the order the report lists them: the Intel flags, then the AMD ones.
enum class ReportFlag : unsigned {
    CpuVt, BiosLock, VmInSmx, VmOutsideSmx, Cr0Ne, Cr0Pe, Cr0Pg, Cr4Vmxe,
    Svm, SvmNp, VmCr,
    Count
};
constexpr unsigned ReportFlagCount = static_cast<unsigned>(ReportFlag::Count);

// The registry value names, exactly as the driver writes them.
constexpr const wchar_t* ReportFlagNames[ReportFlagCount] = {
    L"CPU_VT", L"BIOSLock", L"VMInSMX", L"VMOutSideSMX", L"CR0_NE", L"CR0_PE", L"CR0_PG", L"CR4_VMXE",
    L"SVM", L"SVM_NP", L"VM_CR"};

struct FlagValue {
    bool Present = false;
    unsigned long Value = 0;
};

struct Report {
    bool KeyPresent = false;  // HKLM\Software\Korimath exists
    bool VendorPresent = false;
    bool NamePresent = false;
    FixedText<128> Vendor;  // CPU_Vendor
    FixedText<128> Name;    // CPU_Name
    FlagValue Flags[ReportFlagCount];

    // The key alone, without CPU_Vendor, holds no report (the program itself creates the key).
    bool Written() const { return KeyPresent && VendorPresent; }
    const FlagValue& operator[](ReportFlag Which) const { return Flags[static_cast<unsigned>(Which)]; }
    FlagValue& operator[](ReportFlag Which) { return Flags[static_cast<unsigned>(Which)]; }
};

constexpr const wchar_t* ReportKeyName = L"Software\\Korimath";  // under HKEY_LOCAL_MACHINE
