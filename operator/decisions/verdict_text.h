// What the verdict's rows share: the feature a verdict is about, building a
// text, and the bracket of values each text ends with. Internal to the
// verdict_*.cpp files.
#pragma once

#include <initializer_list>

#include "operator/decisions/verdict.h"

// VT-x or AMD-V: names, firmware setting and ids.
struct Feature {
    bool Vmx;                          // VT-x (VMX), else AMD-V (SVM)
    std::string_view Name;             // "VT-x", "AMD-V"
    std::string_view CpuidBit;         // "VMX", "SVM"
    std::string_view FirmwareSetting;  // what to turn on, under the names firmware uses
    ReportFlag Flag;                   // the report's flag for it
    const wchar_t* Enabled;
    const wchar_t* Disabled;
    const wchar_t* Unsupported;
    const wchar_t* HiddenAfterBoot;
    const wchar_t* HiddenByHyperV;
    const wchar_t* NestedRoot;
    const wchar_t* VirtualMachine;
    const wchar_t* HiddenVirtualMachine;
};

enum class MachineClass { BareMetal, HyperVRoot, NestedRoot, Guest, HiddenGuest };

inline bool Offered(const Feature& What, const CpuidFeatures& Cpu)
{
    return What.Vmx ? Cpu.Vmx : Cpu.Svm;
}

inline Verdict Make(const wchar_t* Id, Finding Found, std::string_view Text)
{
    Verdict result;
    result.Id = Id;
    result.Found = Found;
    result.Text.Append(Text);
    return result;
}

// The hypervisor beneath Windows as people know it.
void AppendHost(VerdictText& Text, const MachineFacts& Facts);

// " [A=1, B=0, hypervisor=..., root partition]": the values a verdict rests on.
struct Basis {
    explicit Basis(Verdict& Result) : Text(Result.Text) { Text.Append(" ["); }
    Basis(const Basis&) = delete;
    Basis& operator=(const Basis&) = delete;
    ~Basis() { Text.Append("]"); }

    Basis& Flags(const Report& Values, std::initializer_list<ReportFlag> Which)
    {
        for (const ReportFlag flag : Which) {
            Number(ReportFlagNames[static_cast<unsigned>(flag)], Values[flag].Value);
        }
        return *this;
    }
    Basis& Named(std::wstring_view Name, std::wstring_view Value)
    {
        Item(Name);
        Text.Append("=");
        Text.Append(Value);
        return *this;
    }
    Basis& Number(std::wstring_view Name, unsigned long Value)
    {
        Item(Name);
        Text.Append("=");
        Text.AppendNumber(Value);
        return *this;
    }
    Basis& Hex(std::wstring_view Name, unsigned long Value)  // "family=19h", as the texts name it
    {
        wchar_t digits[16];
        std::size_t count = 0;
        do {
            digits[count++] = L"0123456789ABCDEF"[Value & 0xF];
            Value >>= 4;
        } while (Value != 0);
        Item(Name);
        Text.Append("=");
        while (count != 0) {
            Text.Append(std::wstring_view(&digits[--count], 1));
        }
        Text.Append("h");
        return *this;
    }
    Basis& Cpuid(const Feature& What, const CpuidFeatures& Cpu)
    {
        Item(L"CPUID ");
        Text.Append(What.CpuidBit);
        Text.Append(Offered(What, Cpu) ? "=1" : "=0");
        return *this;
    }
    Basis& Windows(const WindowsView& View, bool WithSlat)
    {
        if (View.Meaningful) {
            Number(L"PF_VIRT_FIRMWARE_ENABLED", View.FirmwareEnabled ? 1 : 0);
            if (WithSlat) {
                Number(L"PF_SECOND_LEVEL_ADDRESS_TRANSLATION", View.Slat ? 1 : 0);
            }
        }
        return *this;
    }
    Basis& Hypervisor(const HypervisorFacts& Facts)
    {
        if (Facts.Present) {
            Named(L"hypervisor", Facts.Vendor.View());
            if (Facts.Identity.Length != 0) {
                Named(L"identity", Facts.Identity.View());
            }
            if (Facts.RootPartition || Facts.NestedRoot) {
                Item(Facts.RootPartition ? L"root partition" : L"nested root partition");
            }
        }
        return *this;
    }
    void Item(std::wstring_view Name)
    {
        Text.Append(first ? L"" : L", ");
        first = false;
        Text.Append(Name);
    }

    VerdictText& Text;
    bool first = true;
};

// Whether SLAT is present, where it is known (Intel's EPT from Windows' view,
// which counts without a hypervisor only; AMD's nested paging from CPUID).
void AppendSlat(Verdict& Result, const Feature& What, const MachineFacts& Facts);

// The rows by class (verdict_hosted.cpp, verdict_bare_metal.cpp).
Verdict HiddenByHyperV(const Feature& What, const MachineFacts& Facts);
Verdict NestedRootPartition(const Feature& What, const MachineFacts& Facts);
Verdict VirtualMachine(const Feature& What, const MachineFacts& Facts, MachineClass Class);
// Bare metal, from CPUID and Windows' view; RefineBareMetal then applies the
// driver's flags. False when the report cannot refine it.
Verdict BareMetal(const Feature& What, const MachineFacts& Facts);
bool RefineBareMetal(Verdict& Result, const Feature& What, const MachineFacts& Facts);
