#include "probe/identity.h"

#include "probe/processor_access.h"

namespace {

// Each brand leaf contributes at most its 16 register bytes.
constexpr size_t BrandBlockSize = sizeof(CpuidResult);

int ByteOf(ULONG Register, unsigned Index)
{
    return static_cast<int>((Register >> (8U * Index)) & 0xFFU);
}

}  // namespace

void ReadVendorString(char (&VendorText)[IdentityTextSize])
{
    // The vendor text is stored EBX, EDX, ECX (Intel SDM Vol. 2A, CPUID leaf 0),
    // not in CpuidResult's order. A zero byte is copied like any other and so
    // ends the text there. The result needs 13 of the 64 bytes: nothing to check.
    const CpuidResult leaf0 = Cpuid(0, 0);
    (void)sprintf_s(VendorText, IdentityTextSize, "%c%c%c%c%c%c%c%c%c%c%c%c",
                    ByteOf(leaf0.Ebx, 0), ByteOf(leaf0.Ebx, 1), ByteOf(leaf0.Ebx, 2), ByteOf(leaf0.Ebx, 3),
                    ByteOf(leaf0.Edx, 0), ByteOf(leaf0.Edx, 1), ByteOf(leaf0.Edx, 2), ByteOf(leaf0.Edx, 3),
                    ByteOf(leaf0.Ecx, 0), ByteOf(leaf0.Ecx, 1), ByteOf(leaf0.Ecx, 2), ByteOf(leaf0.Ecx, 3));
}

void ReadBrandString(char (&BrandText)[IdentityTextSize])
{
    // Each leaf holds 16 bytes of the brand string in EAX, EBX, ECX, EDX order
    // (Intel SDM Vol. 2A, CPUID leaves 80000002H-80000004H). A NUL inside a
    // block ends that block's part; the next block follows without a gap.
    // Leaf 0x80000000 is not consulted first.
    for (ULONG leaf = 0x80000002; leaf <= 0x80000004; ++leaf) {
        const CpuidResult block = Cpuid(leaf, 0);
        strncat(BrandText, reinterpret_cast<const char*>(&block), BrandBlockSize);
    }
}
