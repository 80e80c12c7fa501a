// Prints what this machine's processor reports, read with CPUID directly, in
// the form the Wine tests compare the driver's report and korimath.exe's JSON
// against. /proc/cpuinfo is no substitute: the kernel trims and rewrites the
// brand string there.
#include <cpuid.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Registers {
    unsigned eax, ebx, ecx, edx;
};

Registers Query(unsigned leaf)
{
    Registers r{};
    __cpuid_count(leaf, 0, r.eax, r.ebx, r.ecx, r.edx);
    return r;
}

std::string Hex(const std::string& bytes)
{
    std::string hex;
    char pair[3];
    for (unsigned char byte : bytes) {
        std::snprintf(pair, sizeof(pair), "%02x", byte);
        hex += pair;
    }
    return hex;
}

// Up to the first NUL, as the driver and korimath.exe take these texts.
std::string Text(const unsigned* registers, int count)
{
    char bytes[49] = {};
    std::memcpy(bytes, registers, 4 * count);
    return bytes;
}

}  // namespace

int main()
{
    const Registers leaf0 = Query(0);
    const unsigned vendor[3] = {leaf0.ebx, leaf0.edx, leaf0.ecx};

    // Each brand block contributes up to its first NUL, as the driver joins them.
    std::string brand;
    for (unsigned leaf = 0x80000002; leaf <= 0x80000004; ++leaf) {
        const Registers block = Query(leaf);
        brand += Text(&block.eax, 4);
    }

    const Registers leaf1 = Query(1);
    const bool hypervisor = ((leaf1.ecx >> 31) & 1) != 0;
    std::string hypervisorVendor;
    bool root = false;
    if (hypervisor) {
        const Registers top = Query(0x40000000);
        const unsigned text[3] = {top.ebx, top.ecx, top.edx};
        hypervisorVendor = Text(text, 3);
        root = hypervisorVendor == "Microsoft Hv" && top.eax >= 0x40000003 && (Query(0x40000003).ebx & 1) != 0;
    }

    std::printf("vendor_hex=%s\n", Hex(Text(vendor, 3)).c_str());
    std::printf("brand_hex=%s\n", Hex(brand).c_str());
    std::printf("leaf1_ecx=%u\n", leaf1.ecx);
    std::printf("leaf80000001_ecx=%u\n", Query(0x80000001).ecx);
    std::printf("leaf8000000a_edx=%u\n", Query(0x8000000A).edx);
    std::printf("hypervisor_vendor_hex=%s\n", Hex(hypervisorVendor).c_str());
    std::printf("hypervisor_root=%d\n", root ? 1 : 0);
    return 0;
}
