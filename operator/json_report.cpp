#include "operator/json_report.h"

namespace {

void AppendString(JsonText& Out, std::wstring_view Text)
{
    Out.Append(L"\"");
    for (const wchar_t c : Text) {
        if (c == L'"' || c == L'\\') {
            const wchar_t escaped[] = {L'\\', c};
            Out.Append(std::wstring_view(escaped, 2));
        } else if (c < 0x20) {
            // RFC 8259: control characters only as \u escapes.
            const wchar_t* hex = L"0123456789abcdef";
            const wchar_t escaped[] = {L'\\', L'u', L'0', L'0', hex[(c >> 4) & 0xF], hex[c & 0xF]};
            Out.Append(std::wstring_view(escaped, 6));
        } else {
            Out.Append(std::wstring_view(&c, 1));
        }
    }
    Out.Append(L"\"");
}

void AppendField(JsonText& Out, std::wstring_view Name)
{
    Out.Append(Out.Length > 1 ? L",\n  " : L"\n  ");
    AppendString(Out, Name);
    Out.Append(L": ");
}

void AppendText(JsonText& Out, std::wstring_view Name, bool Present, std::wstring_view Text)
{
    AppendField(Out, Name);
    if (Present) {
        AppendString(Out, Text);
    } else {
        Out.Append(L"null");
    }
}

void AppendBool(JsonText& Out, std::wstring_view Name, bool Value)
{
    AppendField(Out, Name);
    Out.Append(Value ? L"true" : L"false");
}

}  // namespace

JsonText FormatJsonReport(const Report& Values, const HypervisorFacts& Hypervisor, const Verdict& Result)
{
    JsonText out;
    out.Append(L"{");
    AppendBool(out, L"report", Values.KeyPresent);
    AppendText(out, L"CPU_Vendor", Values.VendorPresent, Values.Vendor.View());
    AppendText(out, L"CPU_Name", Values.NamePresent, Values.Name.View());
    for (unsigned i = 0; i < ReportFlagCount; ++i) {
        AppendField(out, ReportFlagNames[i]);
        if (Values.Flags[i].Present) {
            out.AppendNumber(Values.Flags[i].Value);
        } else {
            out.Append(L"null");
        }
    }
    AppendBool(out, L"hypervisor_present", Hypervisor.Present);
    AppendText(out, L"hypervisor_vendor", Hypervisor.Present, Hypervisor.Vendor.View());
    AppendBool(out, L"hypervisor_root_partition", Hypervisor.RootPartition);
    AppendText(out, L"verdict", true, Result.Id);
    AppendText(out, L"verdict_text", true, Result.Text.View());
    out.Append(L"\n}\n");
    return out;
}
