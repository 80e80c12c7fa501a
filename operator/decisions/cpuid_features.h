// What CPUID tells an ordinary program about hardware virtualization: CPUID
// runs at any privilege level (Intel SDM Vol. 2A, CPUID), so korimath decides
// from these before, and without, its driver.
#pragma once

#include "operator/decisions/hypervisor.h"

struct CpuidFeatures {
    bool Vmx = false;     // CPUID.1:ECX bit 5
    bool Smx = false;     // CPUID.1:ECX bit 6 (Intel TXT)
    unsigned Family = 0;  // CPUID.1:EAX base family, plus the extended family when the base is 0xF
    bool SvmKnown = false;  // leaf 0x80000001 exists (and so SVM and NX are known)
    bool Svm = false;       // CPUID.80000001h:ECX bit 2
    bool NestedPagingKnown = false;  // leaf 0x8000000A exists and is defined (SVM set)
    bool NestedPaging = false;       // CPUID.8000000Ah:EDX bit 0
    bool Nx = false;  // CPUID.80000001h:EDX bit 20, NX (AMD) or XD (Intel): 0 while firmware disables it
};

CpuidFeatures ReadCpuidFeatures(CpuidQuery Query);

// AMD family 17h (Zen) and later: every such processor implements SVM, so its
// absence from CPUID means something hides it.
constexpr unsigned ZenFamily = 0x17;
