// The four processor operations, answered from sim::Current().Cpu.
#include <cstdio>

#include "tests/sim/simulation.h"

namespace {

std::string Hex(ULONG Value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X", Value);
    return text;
}

}  // namespace

CpuidResult Cpuid(ULONG Leaf, ULONG Subleaf)
{
    sim::Machine& machine = sim::Current();
    machine.Log.push_back("cpuid " + Hex(Leaf));
    if (Subleaf != 0) {
        machine.Faults.push_back("cpuid with sub-leaf " + Hex(Subleaf));
    }
    const auto found = machine.Cpu.Cpuid.find(Leaf);
    return found == machine.Cpu.Cpuid.end() ? CpuidResult{} : found->second;
}

bool ReadMsr(ULONG Index, ULONG64* Value)
{
    sim::Machine& machine = sim::Current();
    machine.Log.push_back("rdmsr " + Hex(Index));
    *Value = 0;
    if (machine.Cpu.RefusedMsrs.count(Index) != 0) {
        machine.Log.push_back("rdmsr " + Hex(Index) + " #GP absorbed");
        return false;
    }
    const auto found = machine.Cpu.Msrs.find(Index);
    if (found == machine.Cpu.Msrs.end()) {
        machine.Faults.push_back("#GP: rdmsr of unimplemented " + Hex(Index));
        return false;
    }
    *Value = found->second;
    return true;
}

ULONG64 ReadCr0()
{
    sim::Current().Log.emplace_back("read cr0");
    return sim::Current().Cpu.Cr0;
}

ULONG64 ReadCr4()
{
    sim::Current().Log.emplace_back("read cr4");
    return sim::Current().Cpu.Cr4;
}
