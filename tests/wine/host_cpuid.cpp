// Prints what this machine's processor reports through CPUID, read directly,
// for the Wine test to compare korimath.exe's JSON with. /proc/cpuinfo is no
// substitute: the kernel trims and rewrites the brand string there.
#include <cpuid.h>

#include <cstdio>
#include <string>

namespace {

enum { Eax, Ebx, Ecx, Edx };

unsigned Reg(unsigned Leaf, int Index)
{
    unsigned r[4] = {};
    __cpuid_count(Leaf, 0, r[0], r[1], r[2], r[3]);
    return r[Index];
}

// The registers' bytes up to the first NUL: how the driver and korimath.exe take these texts.
std::string Text(std::initializer_list<unsigned> Registers)
{
    std::string text;
    for (unsigned value : Registers) {
        for (int i = 0; i < 4; ++i) {
            text.push_back(static_cast<char>(value >> (8 * i)));
        }
    }
    return text.substr(0, text.find('\0'));
}

void PrintHex(const char* Name, const std::string& Text)
{
    std::printf("%s_hex=", Name);
    for (unsigned char c : Text) {
        std::printf("%02x", c);
    }
    std::printf("\n");
}

}  // namespace

int main()
{
    PrintHex("vendor", Text({Reg(0, Ebx), Reg(0, Edx), Reg(0, Ecx)}));
    std::string brand;
    for (unsigned leaf = 0x80000002; leaf <= 0x80000004; ++leaf) {  // each block up to its own NUL
        brand += Text({Reg(leaf, Eax), Reg(leaf, Ebx), Reg(leaf, Ecx), Reg(leaf, Edx)});
    }
    PrintHex("brand", brand);
    const bool present = ((Reg(1, Ecx) >> 31) & 1) != 0;
    const std::string hypervisor = present ? Text({Reg(0x40000000, Ebx), Reg(0x40000000, Ecx), Reg(0x40000000, Edx)}) : "";
    PrintHex("hypervisor", hypervisor);
    // Root: CreatePartitions and CpuManagement without Isolation, and no other
    // hypervisor's interface at 0x40000100 behind Hyper-V's.
    const unsigned second = Reg(0x40000100, Eax);
    const bool behind = second > 0x40000100 && second < 0x40000200;
    const bool root = hypervisor == "Microsoft Hv" && Reg(0x40000000, Eax) >= 0x40000003 &&
                      (Reg(0x40000003, Ebx) & 0x401001) == 0x1001 && !behind;
    std::printf("leaf1_ecx=%u\nleaf80000000_eax=%u\nleaf80000001_ecx=%u\nleaf8000000a_edx=%u\nhypervisor_root=%d\n",
                Reg(1, Ecx), Reg(0x80000000, Eax), Reg(0x80000001, Ecx), Reg(0x8000000A, Edx), root ? 1 : 0);
    return 0;
}
