// The processor side of the seam: the four instructions the probes use.
// The driver image executes them (processor_access.cpp); host tests link a
// scripted processor behind the same declarations.
#pragma once

#include "driver/kernel_services.h"

// One CPUID answer, in the order the brand string is laid out in memory:
// EAX, EBX, ECX, EDX, each least significant byte first.
struct CpuidResult {
    ULONG Eax;
    ULONG Ebx;
    ULONG Ecx;
    ULONG Edx;
};
static_assert(sizeof(CpuidResult) == 16, "CpuidResult must be exactly the four registers");
static_assert(offsetof(CpuidResult, Eax) == 0 && offsetof(CpuidResult, Ebx) == 4 &&
                  offsetof(CpuidResult, Ecx) == 8 && offsetof(CpuidResult, Edx) == 12,
              "the brand text is taken from CpuidResult in EAX, EBX, ECX, EDX order");

// CPUID with EAX = Leaf and ECX = Subleaf. No leaf is checked against the
// processor's maximum: a leaf beyond it returns whatever the processor says.
CpuidResult Cpuid(ULONG Leaf, ULONG Subleaf);

// RDMSR with ECX = Index. An index the processor does not implement raises
// #GP; the read is guarded, and then it returns false and leaves *Value 0.
bool ReadMsr(ULONG Index, ULONG64* Value);

ULONG64 ReadCr0();
ULONG64 ReadCr4();

// (Source >> Bit) & 1: a report flag is exactly 0 or 1.
inline ULONG BitFlag(ULONG64 Source, unsigned Bit)
{
    return static_cast<ULONG>((Source >> Bit) & 1U);
}
