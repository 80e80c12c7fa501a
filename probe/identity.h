// The two texts that name the processor, as single-byte NUL-terminated
// strings in caller-owned, zero-filled buffers.
#pragma once

#include "driver/kernel_services.h"

// Both texts live in buffers of this size: 12 vendor characters or at most
// 48 brand characters, plus the NUL, always fit.
constexpr size_t IdentityTextSize = 64;

// CPUID leaf 0: the 12-character vendor text, e.g. "GenuineIntel".
void ReadVendorString(char (&VendorText)[IdentityTextSize]);

// CPUID leaves 0x80000002..0x80000004: the brand text, untrimmed.
void ReadBrandString(char (&BrandText)[IdentityTextSize]);
