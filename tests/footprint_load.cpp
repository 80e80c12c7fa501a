// One load of the driver on the simulated machine, for counting the
// instructions the driver's own code executes (tools/footprint.py runs it
// under callgrind). The machine is the busiest case: an Intel processor with
// VMX, whose IA32_FEATURE_CONTROL is read, so all ten values are written.
#include "tests/sim/machine.h"

int main()
{
    sim::Machine& machine = sim::Current();
    sim::SetIdentity(machine, "GenuineIntel", std::string("Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz") + std::string(9, '\0'));
    machine.Cpuid[1].Ecx = 1U << 5;
    machine.Msrs[0x3A] = 0x5;
    machine.Cr0 = 0x80050033;
    machine.Cr4 = 0x3726F8;
    return sim::LoadAndUnload() == STATUS_SUCCESS && machine.Faults.empty() ? 0 : 1;
}
