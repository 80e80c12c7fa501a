// What the verdict's rows share: building a text, and the bracket of values
// each text ends with. Internal to verdict.cpp and verdict_vendor.cpp.
#pragma once

#include <initializer_list>

#include "operator/verdict.h"

inline Verdict Make(const wchar_t* Id, std::string_view Text)
{
    Verdict result;
    result.Id = Id;
    result.Text.Append(Text);
    return result;
}

// " [A=1, B=0, hypervisor=..., root partition]": the values a verdict rests on.
struct Basis {
    explicit Basis(Verdict& Result) : Text(Result.Text) { Text.Append(" ["); }
    Basis(const Basis&) = delete;
    Basis& operator=(const Basis&) = delete;
    ~Basis() { Text.Append("]"); }

    Basis& Flags(const Report& Values, std::initializer_list<ReportFlag> Which)
    {
        for (const ReportFlag flag : Which) {
            Item(ReportFlagNames[static_cast<unsigned>(flag)]);
            Text.Append("=");
            Text.AppendNumber(Values[flag].Value);
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
    Basis& Hypervisor(const HypervisorFacts& Facts)
    {
        if (Facts.Present) {
            Named(L"hypervisor", Facts.Vendor.View());
            if (Facts.Identity.Length != 0) {
                Named(L"identity", Facts.Identity.View());
            }
            if (Facts.RootPartition) {
                Item(L"root partition");
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

    FixedText<2048>& Text;
    bool first = true;
};

// The rows for "GenuineIntel" and "AuthenticAMD" reports (verdict_vendor.cpp).
Verdict IntelVerdict(const MachineFacts& Facts);
Verdict AmdVerdict(const MachineFacts& Facts);
Verdict IncompleteVerdict(const Report& Values);
// " Windows' own view disagrees: ..." when Windows' flag is not Expected.
void AppendWindowsDisagreement(Verdict& Result, const WindowsView& Windows, bool Expected);
