// The kernel routines the driver calls, behaving as ntoskrnl.exe documents
// them, plus the failures a test can ask for.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tests/sim/simulation.h"

namespace sim {

Machine& Current()
{
    static Machine machine;
    return machine;
}

void Reset()
{
    for (const void* buffer : Current().Os.LiveAllocations) {
        delete[] static_cast<const WCHAR*>(buffer);
    }
    Current() = Machine{};
}

std::string ToAscii(PCWSTR Text)
{
    std::string ascii;
    for (; *Text != 0; ++Text) {
        ascii.push_back(static_cast<char>(*Text));
    }
    return ascii;
}

}  // namespace sim

namespace {

constexpr NTSTATUS StatusAccessDenied = static_cast<NTSTATUS>(0xC0000022U);
constexpr NTSTATUS StatusNoMemory = static_cast<NTSTATUS>(0xC0000017U);
constexpr NTSTATUS StatusInvalidParameter = static_cast<NTSTATUS>(0xC000000DU);

}  // namespace

extern "C" void RtlInitAnsiString(PANSI_STRING DestinationString, PCSZ SourceString)
{
    sim::Current().Log.emplace_back("RtlInitAnsiString");
    const std::size_t length = std::strlen(SourceString);
    DestinationString->Buffer = const_cast<char*>(SourceString);
    DestinationString->Length = static_cast<USHORT>(length);
    DestinationString->MaximumLength = static_cast<USHORT>(length + 1);
}

extern "C" NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString,
                                                 PCANSI_STRING SourceString,
                                                 BOOLEAN AllocateDestinationString)
{
    sim::Machine& machine = sim::Current();
    machine.Log.emplace_back("RtlAnsiStringToUnicodeString");
    if (AllocateDestinationString != TRUE) {
        machine.Faults.emplace_back("conversion without allocation");
        return StatusInvalidParameter;
    }
    if (machine.Os.FailConversion) {
        return StatusNoMemory;  // the destination is left as it was
    }
    const std::size_t length = SourceString->Length;
    auto* buffer = new WCHAR[length + 1];
    for (std::size_t i = 0; i < length; ++i) {
        // The processor's texts are ASCII; other bytes map as Latin-1 would.
        buffer[i] = static_cast<WCHAR>(static_cast<unsigned char>(SourceString->Buffer[i]));
    }
    buffer[length] = 0;
    machine.Os.LiveAllocations.insert(buffer);
    DestinationString->Buffer = buffer;
    DestinationString->Length = static_cast<USHORT>(length * sizeof(WCHAR));
    DestinationString->MaximumLength = static_cast<USHORT>((length + 1) * sizeof(WCHAR));
    return STATUS_SUCCESS;
}

extern "C" void RtlFreeUnicodeString(PUNICODE_STRING UnicodeString)
{
    sim::Machine& machine = sim::Current();
    machine.Log.emplace_back("RtlFreeUnicodeString");
    const auto found = machine.Os.LiveAllocations.find(UnicodeString->Buffer);
    if (found == machine.Os.LiveAllocations.end()) {
        machine.Faults.emplace_back("free of a buffer that is not allocated");
        return;
    }
    machine.Os.LiveAllocations.erase(found);
    delete[] UnicodeString->Buffer;
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = 0;
    UnicodeString->MaximumLength = 0;
}

extern "C" NTSTATUS RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName,
                                          ULONG ValueType, PVOID ValueData, ULONG ValueLength)
{
    sim::Machine& machine = sim::Current();
    const std::string name = sim::ToAscii(ValueName);
    machine.Log.push_back("write " + name);
    if (machine.Os.WatchedDriver != nullptr && machine.Os.WatchedDriver->DriverUnload == nullptr) {
        machine.Faults.push_back("write of " + name + " before the unload routine is set");
    }
    if (RelativeTo != RTL_REGISTRY_ABSOLUTE) {
        machine.Faults.push_back("write of " + name + " relative to " + std::to_string(RelativeTo));
        return StatusInvalidParameter;
    }
    if (machine.Os.FailEveryWrite || machine.Os.FailingWrites.count(name) != 0) {
        return StatusAccessDenied;
    }
    // The key is created when missing; a value of any type is replaced.
    sim::RegistryValue& value = machine.Os.Registry[sim::ToAscii(Path)][name];
    value.Type = ValueType;
    const auto* bytes = static_cast<const std::uint8_t*>(ValueData);
    value.Data.assign(bytes, bytes + ValueLength);
    return STATUS_SUCCESS;
}

extern "C" int sprintf_s(char* Buffer, std::size_t SizeOfBuffer, const char* Format, ...)
{
    sim::Machine& machine = sim::Current();
    machine.Log.emplace_back("sprintf_s");
    // Format into scratch space first: the result may hold NUL characters, and
    // the kernel's sprintf_s never writes past SizeOfBuffer.
    char scratch[1024];
    va_list arguments;
    va_start(arguments, Format);
    const int length = std::vsnprintf(scratch, sizeof(scratch), Format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<std::size_t>(length) >= SizeOfBuffer) {
        machine.Faults.emplace_back("sprintf_s overflow");
        if (SizeOfBuffer > 0) {
            Buffer[0] = 0;
        }
        return -1;
    }
    std::memcpy(Buffer, scratch, static_cast<std::size_t>(length) + 1);
    return length;
}
