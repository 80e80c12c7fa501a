#include "operator/win32/windows_facts.h"

#include <windows.h>

#include "operator/win32/wide_buffer.h"

namespace {

// SystemCodeIntegrityInformation: winternl.h's enumeration stops short of
// it, so ntdll's routine is declared here with a plain number.
constexpr ULONG SystemCodeIntegrityInformation = 103;

struct CodeIntegrityInformation {
    ULONG Length;
    ULONG CodeIntegrityOptions;
};

constexpr DWORD Rsmb = 0x52534D42;  // 'RSMB', the raw SMBIOS table provider

}  // namespace

extern "C" LONG WINAPI NtQuerySystemInformation(ULONG InformationClass, void* Information, ULONG Length,
                                                ULONG* ReturnLength);

WindowsView ReadWindowsView(bool HypervisorPresent)
{
    CodeIntegrityInformation integrity{sizeof(integrity), 0};
    const bool known =
        NtQuerySystemInformation(SystemCodeIntegrityInformation, &integrity, sizeof(integrity), nullptr) >= 0;
    const unsigned long options = integrity.CodeIntegrityOptions;
    return DecideWindowsView(
        HypervisorPresent, [](unsigned long Feature) { return IsProcessorFeaturePresent(Feature) != 0; },
        known ? &options : nullptr);
}

SystemIdentity ReadSystemIdentity()
{
    const UINT size = GetSystemFirmwareTable(Rsmb, 0, nullptr, 0);
    WideBuffer table;  // bytes, in a wide buffer's storage
    if (size == 0 || !table.Reserve(size / sizeof(wchar_t) + 1)) {
        return {};
    }
    const UINT read = GetSystemFirmwareTable(Rsmb, 0, table.Data(), size);
    if (read == 0 || read > size) {
        return {};
    }
    return ParseSmbiosSystem(reinterpret_cast<const unsigned char*>(table.Data()), read);
}

bool NativeMachineIsX64()
{
    // Windows 10 1709 and later; Windows before it has no x64 emulation on Arm.
    using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto query = reinterpret_cast<IsWow64Process2Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    USHORT process = 0;
    USHORT native = IMAGE_FILE_MACHINE_AMD64;
    if (query == nullptr || !query(GetCurrentProcess(), &process, &native)) {
        return true;
    }
    return native == IMAGE_FILE_MACHINE_AMD64;
}
