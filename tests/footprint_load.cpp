// One load of the driver on the simulated machine, for counting the
// instructions the driver's own code executes (tools/footprint.py runs it
// under callgrind). The machine is the busiest case: an Intel processor with
// VMX, whose IA32_FEATURE_CONTROL is read, so all ten values are written.
#include <cstring>

#include "driver/driver_entry.h"
#include "tests/sim/simulation.h"

int main()
{
    sim::Processor& cpu = sim::Current().Cpu;
    cpu.Cpuid[0] = CpuidResult{0x16, 0x756E6547, 0x6C65746E, 0x49656E69};  // GenuineIntel
    const char brand[] = "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\0\0\0\0\0\0\0\0\0";
    for (ULONG block = 0; block < 3; ++block) {
        std::memcpy(&cpu.Cpuid[0x80000002 + block], brand + 16 * block, sizeof(CpuidResult));
    }
    cpu.Cpuid[1].Ecx = 1U << 5;
    cpu.Msrs[0x3A] = 0x5;
    cpu.Cr0 = 0x80050033;
    cpu.Cr4 = 0x3726F8;

    DRIVER_OBJECT driver{};
    UNICODE_STRING registryPath{};
    const NTSTATUS status = DriverEntry(&driver, &registryPath);
    driver.DriverUnload(&driver);
    return status == STATUS_SUCCESS && sim::Current().Faults.empty() ? 0 : 1;
}
