// The four processor operations, executed at kernel privilege. Every one acts
// on whichever logical processor runs it; no affinity is set.
#include "probe/processor_access.h"

CpuidResult Cpuid(ULONG Leaf, ULONG Subleaf)
{
    int registers[4] = {};
    __cpuidex(registers, static_cast<int>(Leaf), static_cast<int>(Subleaf));
    return CpuidResult{static_cast<ULONG>(registers[0]), static_cast<ULONG>(registers[1]),
                       static_cast<ULONG>(registers[2]), static_cast<ULONG>(registers[3])};
}

// Kept out of line: the compiler only unwinds a hardware fault into an
// __except block when the faulting instruction sits in a callee of the
// __try frame.
__attribute__((noinline)) static ULONG64 ExecuteRdmsr(ULONG Index)
{
    return __readmsr(Index);
}

bool ReadMsr(ULONG Index, ULONG64* Value)
{
    *Value = 0;
    __try {
        *Value = ExecuteRdmsr(Index);
    } __except (EXCEPTION_EXECUTE_HANDLER) {
        // A hypervisor may report a feature yet refuse its register.
        *Value = 0;
        return false;
    }
    return true;
}

ULONG64 ReadCr0()
{
    return __readcr0();
}

ULONG64 ReadCr4()
{
    return __readcr4();
}
