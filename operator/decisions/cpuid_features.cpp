#include "operator/decisions/cpuid_features.h"

namespace {

constexpr std::uint32_t HighestExtendedLeaf = 0x80000000;
constexpr std::uint32_t ExtendedFeatures = 0x80000001;
constexpr std::uint32_t SvmFeatures = 0x8000000A;

bool Bit(std::uint32_t Value, unsigned Number)
{
    return ((Value >> Number) & 1U) != 0;
}

}  // namespace

CpuidFeatures ReadCpuidFeatures(CpuidQuery Query)
{
    CpuidFeatures features;
    const CpuidRegisters leaf1 = Query(1);
    features.Vmx = Bit(leaf1.Ecx, 5);
    features.Smx = Bit(leaf1.Ecx, 6);
    // Intel SDM Vol. 2A, CPUID, "Family ID": the extended family counts only
    // when the base family is 0Fh; AMD's Zen is 0Fh + 08h = 17h.
    const unsigned base = (leaf1.Eax >> 8) & 0xF;
    features.Family = base == 0xF ? base + ((leaf1.Eax >> 20) & 0xFF) : base;
    // A leaf beyond the highest one returns another leaf's data (Intel SDM
    // Vol. 2A, CPUID): ask only what 0x80000000 says exists.
    const std::uint32_t highest = Query(HighestExtendedLeaf).Eax;
    if (highest >= ExtendedFeatures && highest < HighestExtendedLeaf + 0x10000) {
        features.SvmKnown = true;
        const CpuidRegisters extended = Query(ExtendedFeatures);
        features.Svm = Bit(extended.Ecx, 2);
        // Intel SDM Vol. 3A, IA32_MISC_ENABLE bit 34: with XD disabled, this bit reads 0.
        features.Nx = Bit(extended.Edx, 20);
        // AMD APM Vol. 3, E.4.9: leaf 8000000Ah is reserved when SVM is clear.
        if (features.Svm && highest >= SvmFeatures) {
            features.NestedPagingKnown = true;
            features.NestedPaging = Bit(Query(SvmFeatures).Edx, 0);
        }
    }
    return features;
}
