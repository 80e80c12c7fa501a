// The image's load configuration (IMAGE_LOAD_CONFIG_DIRECTORY64, as laid out
// in the Windows 10 SDK's winnt.h). mingw-w64's headers lack its guard fields,
// and only assembly lets the linker drop in the 32-bit __guard_flags and the
// guard tables it builds for control-flow guard (-mguard=cf, --guard-cf).
// korimath.exe links the same table, with DependentLoadFlags set: lld 16 has
// no option for that field.

#ifndef KORIMATH_DEPENDENT_LOAD_FLAGS
#define KORIMATH_DEPENDENT_LOAD_FLAGS 0  // the kernel's loader ignores it
#endif

    .section .rdata,"dr"
    .p2align 3
    .globl _load_config_used
_load_config_used:
    .long  _load_config_end - _load_config_used  // 0x000 Size
    .long  0                          // 0x004 TimeDateStamp (reproducible)
    .short 0, 0                       // 0x008 MajorVersion, MinorVersion
    .long  0, 0, 0                    // 0x00C GlobalFlagsClear, GlobalFlagsSet, CriticalSectionDefaultTimeout
    .quad  0, 0, 0, 0, 0, 0           // 0x018 DeCommit*, LockPrefixTable, MaximumAllocationSize, VirtualMemoryThreshold, ProcessAffinityMask
    .long  0                          // 0x048 ProcessHeapFlags
    .short 0, KORIMATH_DEPENDENT_LOAD_FLAGS // 0x04C CSDVersion, DependentLoadFlags
    .quad  0                          // 0x050 EditList
    .quad  0                          // 0x058 SecurityCookie (built without stack cookies)
    .quad  0, 0                       // 0x060 SEHandlerTable, SEHandlerCount (x86 only)
    .quad  __guard_check_icall_fptr   // 0x070 GuardCFCheckFunctionPointer
    .quad  __guard_dispatch_icall_fptr // 0x078 GuardCFDispatchFunctionPointer
    .quad  __guard_fids_table         // 0x080 GuardCFFunctionTable
    .quad  __guard_fids_count         // 0x088 GuardCFFunctionCount
    .long  __guard_flags              // 0x090 GuardFlags
    .short 0, 0                       // 0x094 CodeIntegrity.Flags, Catalog
    .long  0, 0                       // 0x098 CodeIntegrity.CatalogOffset, Reserved
    .quad  __guard_iat_table          // 0x0A0 GuardAddressTakenIatEntryTable
    .quad  __guard_iat_count          // 0x0A8 GuardAddressTakenIatEntryCount
    .quad  __guard_longjmp_table      // 0x0B0 GuardLongJumpTargetTable
    .quad  __guard_longjmp_count      // 0x0B8 GuardLongJumpTargetCount
_load_config_end:

// The kernel (or, for the program, the user-mode loader) points these at its
// own check and dispatch routines when it enforces the guard; until then
// they name harmless defaults. The driver makes no indirect call, so neither
// is ever used by its own code.
    .section .00cfg,"dr"
    .p2align 3
    .globl __guard_check_icall_fptr
__guard_check_icall_fptr:
    .quad  GuardCheckIcallNop
    .globl __guard_dispatch_icall_fptr
__guard_dispatch_icall_fptr:
    .quad  GuardDispatchIcallNop

    .text
    .p2align 4
GuardCheckIcallNop:
    ret
GuardDispatchIcallNop:
    rex64 jmp *%rax
