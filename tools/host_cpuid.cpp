// Prints what this machine's processor reports, read with CPUID directly, in
// the form the Wine tests compare the driver's report against. /proc/cpuinfo
// is no substitute: the kernel trims and rewrites the brand string there.
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

}  // namespace

int main()
{
    const Registers leaf0 = Query(0);
    char vendor[13] = {};
    std::memcpy(vendor + 0, &leaf0.ebx, 4);
    std::memcpy(vendor + 4, &leaf0.edx, 4);
    std::memcpy(vendor + 8, &leaf0.ecx, 4);

    // Each brand block contributes up to its first NUL, as the driver joins them.
    std::string brand;
    for (unsigned leaf = 0x80000002; leaf <= 0x80000004; ++leaf) {
        const Registers block = Query(leaf);
        char bytes[17] = {};
        std::memcpy(bytes, &block, 16);
        brand += bytes;
    }

    std::printf("vendor_hex=%s\n", Hex(std::string(vendor)).c_str());
    std::printf("brand_hex=%s\n", Hex(brand).c_str());
    std::printf("leaf1_ecx=%u\n", Query(1).ecx);
    std::printf("leaf80000001_ecx=%u\n", Query(0x80000001).ecx);
    std::printf("leaf8000000a_edx=%u\n", Query(0x8000000A).edx);
    return 0;
}
