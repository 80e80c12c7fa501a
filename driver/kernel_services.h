// The kernel side of the seam: every type and routine this driver takes from
// ntoskrnl.exe. The driver image gets them from the DDK headers; the host
// tests compile the same sources against the declarations below and link a
// simulated kernel that defines them.
#pragma once

#if defined(KORIMATH_HOST)

#include <cstddef>
#include <cstdint>
#include <cstring>  // strncat, strcmp and memset behave as the kernel's do

// Host builds use -fshort-wchar, so wchar_t and L"" literals are UTF-16 as
// on Windows.
static_assert(sizeof(wchar_t) == 2, "host tests must be built with -fshort-wchar");

using NTSTATUS = std::int32_t;
using BOOLEAN = unsigned char;
using USHORT = unsigned short;
using ULONG = std::uint32_t;
using ULONG64 = std::uint64_t;
using WCHAR = wchar_t;
using PCWSTR = const WCHAR*;
using PCSZ = const char*;
using PVOID = void*;

#define NTAPI
#define TRUE 1
#define STATUS_SUCCESS (static_cast<NTSTATUS>(0x00000000L))
#define NT_SUCCESS(Status) ((static_cast<NTSTATUS>(Status)) >= 0)
#define UNREFERENCED_PARAMETER(P) ((void)(P))
#define RTL_REGISTRY_ABSOLUTE 0
#define REG_SZ 1
#define REG_DWORD 4

struct ANSI_STRING {
    USHORT Length;
    USHORT MaximumLength;
    char* Buffer;
};
using PANSI_STRING = ANSI_STRING*;
using PCANSI_STRING = const ANSI_STRING*;

struct UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    WCHAR* Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;

struct DRIVER_OBJECT;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PDRIVER_UNLOAD = void (*)(PDRIVER_OBJECT DriverObject);

// Only the slot the driver touches; the rest of the real object is opaque to it.
struct DRIVER_OBJECT {
    PDRIVER_UNLOAD DriverUnload;
};

extern "C" {
void NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, PCSZ SourceString);
NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString,
                                            PCANSI_STRING SourceString,
                                            BOOLEAN AllocateDestinationString);
void NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);
NTSTATUS NTAPI RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName,
                                     ULONG ValueType, PVOID ValueData, ULONG ValueLength);
int sprintf_s(char* Buffer, std::size_t SizeOfBuffer, const char* Format, ...);
}

#else

// mingw-w64's wdm.h defines these two helpers again after <intrin.h> has
// declared them; rename the DDK's copies out of the way.
#include <intrin.h>
#define InterlockedBitTestAndSet KorimathDdkInterlockedBitTestAndSet
#define InterlockedBitTestAndReset KorimathDdkInterlockedBitTestAndReset
#include <ntddk.h>
#undef InterlockedBitTestAndSet
#undef InterlockedBitTestAndReset

// ntoskrnl.exe exports sprintf_s, but the DDK headers do not declare it.
extern "C" int __cdecl sprintf_s(char* Buffer, size_t SizeOfBuffer, const char* Format, ...);

#endif
