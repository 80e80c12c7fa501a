#include "operator/decisions/smbios.h"

#include <cstdint>

namespace {

constexpr std::size_t RawHeaderSize = 8;  // Used20CallingMethod, versions, DmiRevision, Length
constexpr unsigned char SystemInformation = 1;
constexpr unsigned char SystemEnclosure = 3;
constexpr unsigned char EndOfTable = 127;

// SMBIOS 3.x, 6.1.3: the strings follow the formatted area, numbered from 1,
// each NUL-terminated, the set ended by a second NUL.
void CopyString(const unsigned char* Strings, std::size_t Size, unsigned Number, FixedText<64>& Out)
{
    std::size_t at = 0;
    for (unsigned n = 1; n < Number && at < Size; ++n) {
        while (at < Size && Strings[at] != 0) {
            ++at;
        }
        ++at;
    }
    for (; Number != 0 && at < Size && Strings[at] != 0; ++at) {
        const wchar_t c = Strings[at];
        Out.Append(std::wstring_view(&c, 1));
    }
    while (Out.Length != 0 && Out.Chars[Out.Length - 1] == L' ') {
        Out.Chars[--Out.Length] = 0;
    }
}

}  // namespace

SystemIdentity ParseSmbiosSystem(const unsigned char* Raw, std::size_t Size)
{
    SystemIdentity system;
    if (Raw == nullptr || Size < RawHeaderSize) {
        return system;
    }
    const std::uint32_t declared = Raw[4] | (Raw[5] << 8) | (Raw[6] << 16) | (static_cast<std::uint32_t>(Raw[7]) << 24);
    const std::size_t size = declared < Size - RawHeaderSize ? declared : Size - RawHeaderSize;
    const unsigned char* table = Raw + RawHeaderSize;
    std::size_t at = 0;
    while (at + 4 <= size) {
        const unsigned char type = table[at];
        const unsigned char length = table[at + 1];
        if (length < 4 || at + length > size) {
            break;
        }
        const unsigned char* strings = table + at + length;
        const std::size_t stringsSize = size - at - length;
        if (type == SystemInformation && length > 5 && !system.Present) {
            system.Present = true;
            CopyString(strings, stringsSize, table[at + 4], system.Manufacturer);
            CopyString(strings, stringsSize, table[at + 5], system.Product);
        } else if (type == SystemEnclosure && length > 8 && system.AssetTag.Length == 0) {
            CopyString(strings, stringsSize, table[at + 8], system.AssetTag);  // 7.4: Asset Tag Number
        }
        if (type == EndOfTable) {
            break;
        }
        // Past the strings: the first double NUL.
        std::size_t end = 0;
        while (end + 1 < stringsSize && (strings[end] != 0 || strings[end + 1] != 0)) {
            ++end;
        }
        at += length + end + 2;
    }
    return system;
}

std::wstring_view VirtualMachineHost(const SystemIdentity& System)
{
    constexpr struct {
        std::wstring_view Part;  // in the manufacturer or the product name
        std::wstring_view Host;
    } names[] = {{L"QEMU", L"QEMU"},   {L"VMware", L"VMware"},       {L"VirtualBox", L"VirtualBox"},
                 {L"innotek", L"VirtualBox"}, {L"Xen", L"Xen"}, {L"Parallels", L"Parallels"},
                 {L"bhyve", L"bhyve"}, {L"KVM", L"KVM"}, {L"Amazon EC2", L"Amazon EC2"},
                 {L"Google Compute Engine", L"Google Compute Engine"}};
    for (const auto& name : names) {
        if (ContainsIgnoringAsciiCase(System.Manufacturer.View(), name.Part) ||
            ContainsIgnoringAsciiCase(System.Product.View(), name.Part)) {
            return name.Host;
        }
    }
    if (ContainsIgnoringAsciiCase(System.Manufacturer.View(), L"Microsoft") && System.Product.View() == L"Virtual Machine") {
        return L"Microsoft Hyper-V";
    }
    return {};
}

Cloud CloudOf(const SystemIdentity& System)
{
    // Microsoft: Azure's virtual machines carry this chassis asset tag. AWS:
    // Nitro instances name "Amazon EC2" as their maker. Google: its product
    // name is "Google Compute Engine".
    if (VirtualMachineHost(System) == L"Microsoft Hyper-V" &&
        System.AssetTag.View() == L"7783-7084-3265-9085-8269-3286-77") {
        return Cloud::Azure;
    }
    if (System.Manufacturer.View() == L"Amazon EC2") {
        return Cloud::AmazonEc2;
    }
    return System.Product.View() == L"Google Compute Engine" ? Cloud::GoogleComputeEngine : Cloud::None;
}

bool AppleHardware(const SystemIdentity& System)
{
    return System.Manufacturer.View() == L"Apple Inc.";
}
