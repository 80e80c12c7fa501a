#include "tests/sim/machine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace sim {

Machine& Current()
{
    static Machine machine;
    return machine;
}

void Reset()
{
    for (const void* buffer : Current().LiveBuffers) {
        delete[] static_cast<const WCHAR*>(buffer);
    }
    Current() = Machine{};
}

void SetIdentity(Machine& Cpu, const std::string& Vendor, const std::string& Brand)
{
    CpuidResult& leaf0 = Cpu.Cpuid[0];
    std::memcpy(&leaf0.Ebx, Vendor.data(), 4);
    std::memcpy(&leaf0.Edx, Vendor.data() + 4, 4);
    std::memcpy(&leaf0.Ecx, Vendor.data() + 8, 4);
    for (ULONG block = 0; block < 3; ++block) {
        std::memcpy(&Cpu.Cpuid[0x80000002 + block], Brand.data() + 16 * block, 16);
    }
}

NTSTATUS LoadAndUnload()
{
    DRIVER_OBJECT driver{};
    UNICODE_STRING serviceKey{};
    Current().Loading = &driver;
    const NTSTATUS status = DriverEntry(&driver, &serviceKey);
    Current().Loading = nullptr;
    if (driver.DriverUnload != UnloadDriver) {
        Current().Faults.emplace_back("unload routine not set");
        return status;
    }
    // The import table is gone by then (INIT): unloading may call nothing.
    const std::size_t logged = Current().Log.size();
    driver.DriverUnload(&driver);
    if (Current().Log.size() != logged) {
        Current().Faults.emplace_back("UnloadDriver called the kernel");
    }
    return status;
}

std::string Hex(ULONG Value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%X", Value);
    return text;
}

// "dword N" for 4 bytes; "sz TEXT" for UTF-16LE with one NUL, at the end.
std::string Render(ULONG Type, const unsigned char* Data, ULONG Length)
{
    if (Type == REG_DWORD && Length == 4) {
        ULONG value = 0;
        std::memcpy(&value, Data, 4);
        return "dword " + std::to_string(value);
    }
    std::string text;
    for (ULONG i = 0; Type == REG_SZ && i + 1 < Length; i += 2) {
        text.push_back(static_cast<char>(Data[i] | (Data[i + 1] << 8)));
    }
    const bool wellFormed = Type == REG_SZ && Length % 2 == 0 && !text.empty() && text.find('\0') + 1 == text.size();
    return wellFormed ? "sz " + text.substr(0, text.size() - 1)
                      : "bad type " + std::to_string(Type) + " length " + std::to_string(Length);
}

}  // namespace sim

using sim::Current;

CpuidResult Cpuid(ULONG Leaf, ULONG Subleaf)
{
    Current().Log.push_back("cpuid " + sim::Hex(Leaf) + (Subleaf != 0 ? " sub-leaf " + sim::Hex(Subleaf) : ""));
    const auto found = Current().Cpuid.find(Leaf);
    return found == Current().Cpuid.end() ? CpuidResult{} : found->second;
}

bool ReadMsr(ULONG Index, ULONG64* Value)
{
    Current().Log.push_back("rdmsr " + sim::Hex(Index));
    *Value = 0;
    if (Current().RefusedMsrs.count(Index) != 0) {
        return false;
    }
    if (Current().Msrs.count(Index) == 0) {
        Current().Faults.push_back("#GP: rdmsr " + sim::Hex(Index));
        return false;
    }
    *Value = Current().Msrs[Index];
    return true;
}

ULONG64 ReadCr0()
{
    Current().Log.emplace_back("cr0");
    return Current().Cr0;
}

ULONG64 ReadCr4()
{
    Current().Log.emplace_back("cr4");
    return Current().Cr4;
}

extern "C" void RtlInitAnsiString(PANSI_STRING DestinationString, PCSZ SourceString)
{
    DestinationString->Buffer = const_cast<char*>(SourceString);
    DestinationString->Length = static_cast<USHORT>(std::strlen(SourceString));
    DestinationString->MaximumLength = static_cast<USHORT>(DestinationString->Length + 1);
}

extern "C" NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                                 BOOLEAN AllocateDestinationString)
{
    if (AllocateDestinationString != TRUE || Current().FailConversion) {
        return static_cast<NTSTATUS>(0xC0000017U);  // STATUS_NO_MEMORY; the destination is untouched
    }
    const USHORT length = SourceString->Length;
    auto* buffer = new WCHAR[length + 1];
    for (USHORT i = 0; i < length; ++i) {
        buffer[i] = static_cast<unsigned char>(SourceString->Buffer[i]);
    }
    buffer[length] = 0;
    Current().LiveBuffers.insert(buffer);
    *DestinationString = UNICODE_STRING{static_cast<USHORT>(2 * length), static_cast<USHORT>(2 * length + 2), buffer};
    return STATUS_SUCCESS;
}

extern "C" void RtlFreeUnicodeString(PUNICODE_STRING UnicodeString)
{
    if (Current().LiveBuffers.erase(UnicodeString->Buffer) == 0) {
        Current().Faults.emplace_back("free of a buffer never allocated");
        return;
    }
    delete[] UnicodeString->Buffer;
    *UnicodeString = UNICODE_STRING{};
}

extern "C" NTSTATUS RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType,
                                          PVOID ValueData, ULONG ValueLength)
{
    std::string name;
    for (PCWSTR c = ValueName; *c != 0; ++c) {
        name.push_back(static_cast<char>(*c));
    }
    Current().Log.push_back("write " + name);
    if (Current().Loading != nullptr && Current().Loading->DriverUnload == nullptr) {
        Current().Faults.push_back("write of " + name + " before the unload routine is set");
    }
    if (RelativeTo != RTL_REGISTRY_ABSOLUTE ||
        std::u16string_view(reinterpret_cast<const char16_t*>(Path)) != u"\\Registry\\Machine\\Software\\Korimath") {
        Current().Faults.push_back("write of " + name + " to another key");
    }
    if (ValueData == nullptr) {
        Current().Faults.push_back("write of " + name + " from no buffer");
        return static_cast<NTSTATUS>(0xC000000DU);
    }
    if (Current().FailingWrites.count(name) + Current().FailingWrites.count("*") != 0) {
        return static_cast<NTSTATUS>(0xC0000022U);  // STATUS_ACCESS_DENIED
    }
    Current().Report[name] = sim::Render(ValueType, static_cast<const unsigned char*>(ValueData), ValueLength);
    return STATUS_SUCCESS;
}

extern "C" int sprintf_s(char* Buffer, std::size_t SizeOfBuffer, const char* Format, ...)
{
    // The kernel's sprintf_s never writes past SizeOfBuffer; a text that
    // would not fit is a fault here.
    char scratch[256];
    va_list arguments;
    va_start(arguments, Format);
    const int length = std::vsnprintf(scratch, sizeof(scratch), Format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<std::size_t>(length) >= SizeOfBuffer) {
        Current().Faults.emplace_back("sprintf_s overflow");
        return -1;
    }
    std::memcpy(Buffer, scratch, static_cast<std::size_t>(length) + 1);
    return length;
}
