#include "operator/decisions/json_report.h"

#include "operator/decisions/safeguards.h"
#include "operator/decisions/what_runs.h"

namespace {

// Longer values are cut, with a marker, so that the object always fits and
// stays valid: nothing is ever cut silently.
constexpr std::size_t ValueLimit = 4096;
// Every blocker field is a string: fleet rules type them so, and a null would
// not match (Intune answers a wrong data type with error 65010).
constexpr const wchar_t* NoBlocker = L"none";

void AppendString(JsonText& Out, std::wstring_view Text)
{
    Out.Append(L"\"");
    std::size_t length = 0;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const wchar_t c = Text[i];
        wchar_t escaped[6] = {L'\\', c};
        std::size_t size = 2;
        if (c != L'"' && c != L'\\') {
            // RFC 8259 asks control characters as \u escapes; C1, DEL and
            // bidirectional controls go the same way, so the line prints as sent.
            size = ForConsole(c, false) == c ? 1 : 6;
            if (size == 1) {
                escaped[0] = c;
            } else {
                const wchar_t* hex = L"0123456789abcdef";
                const wchar_t digits[6] = {L'\\', L'u', hex[(c >> 12) & 0xF], hex[(c >> 8) & 0xF], hex[(c >> 4) & 0xF],
                                           hex[c & 0xF]};
                std::char_traits<wchar_t>::copy(escaped, digits, 6);
            }
        }
        if (length + size + (IsHighSurrogate(c) ? 1 : 0) > ValueLimit) {
            Out.Append(CutMarker);
            break;
        }
        Out.Append(std::wstring_view(escaped, size));
        length += size;
    }
    Out.Append(L"\"");
}

// One line, no spaces: JSON Lines, and short enough for Intune's discovery
// scripts, whose output it keeps only in part.
void AppendField(JsonText& Out, std::wstring_view Name)
{
    Out.Append(Out.Length > 1 ? L"," : L"");
    AppendString(Out, Name);
    Out.Append(L":");
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

// true, false, or null when Known is false.
void AppendBool(JsonText& Out, std::wstring_view Name, bool Value, bool Known = true)
{
    AppendField(Out, Name);
    Out.Append(!Known ? L"null" : Value ? L"true" : L"false");
}

// 0 or 1, or null when Known is false.
void AppendBit(JsonText& Out, std::wstring_view Name, bool Value, bool Known = true)
{
    AppendField(Out, Name);
    Out.Append(!Known ? L"null" : Value ? L"1" : L"0");
}

void AppendTri(JsonText& Out, std::wstring_view Name, Tri Value)
{
    AppendBool(Out, Name, Value.Value, Value.Known);
}

// A number, or null when Known is false.
void AppendNumber(JsonText& Out, std::wstring_view Name, unsigned long Value, bool Known)
{
    AppendField(Out, Name);
    if (Known) {
        Out.AppendNumber(Value);
    } else {
        Out.Append(L"null");
    }
}

void AppendName(JsonText& Out, std::wstring_view Name, const wchar_t* Value)
{
    AppendText(Out, Name, Value != nullptr, Value != nullptr ? Value : L"");
}

// Windows' side and, for each kind of program, whether it runs here.
void AppendWindowsSide(JsonText& Out, const MachineFacts& Facts, const Verdict& Result)
{
    const WindowsSide& side = Facts.Side;
    AppendName(Out, L"windows_edition", EditionName(EditionOf(side.ProductType)));
    constexpr const wchar_t* features[OptionalFeatureCount] = {
        L"feature_hyper_v", L"feature_virtual_machine_platform", L"feature_hypervisor_platform", L"feature_sandbox",
        L"feature_wsl", L"feature_application_guard"};
    for (unsigned i = 0; i < OptionalFeatureCount; ++i) {
        AppendName(Out, features[i], FeatureStateName(side.Features[i]));
    }
    AppendBool(Out, L"whp_usable", side.Whp == Platform::Usable);
    AppendName(Out, L"hypervisor_launch_type", LaunchSettingName(side.HypervisorLaunch));
    const Vbs& security = side.Security;
    AppendTri(Out, L"vbs_configured", VbsConfigured(security));
    AppendTri(Out, L"vbs_running", VbsRunning(security));
    AppendNumber(Out, L"vbs_status", security.Status, security.StatusRead);
    AppendTri(Out, L"vbs_locked", VbsLocked(security));
    AppendTri(Out, L"credential_guard_configured", CredentialGuardConfigured(security));
    AppendTri(Out, L"credential_guard_running", ServiceRunning(security, SecurityService::CredentialGuard));
    AppendTri(Out, L"memory_integrity_configured", MemoryIntegrityConfigured(security));
    AppendNumber(Out, L"vbs_policy", security.PolicyEnabled.Value, security.PolicyEnabled.Present);
    AppendNumber(Out, L"memory_integrity_policy", security.PolicyHvci.Value, security.PolicyHvci.Present);
    AppendNumber(Out, L"credential_guard_policy", security.PolicyLsaCfgFlags.Value, security.PolicyLsaCfgFlags.Present);
    AppendNumber(Out, L"hypervisor_launch_event", side.Launch.Id, side.Launch.Found);
    AppendText(Out, L"hypervisor_launch_text", side.Launch.Found, side.Launch.Text.View());
    const WhatRuns runs = DecideWhatRuns(Facts, Result);
    for (unsigned i = 0; i < ProgramCount; ++i) {
        const ProgramRow& row = runs.Rows[i];
        FixedText<64> name;
        name.Append(L"ready_");
        name.Append(ProgramKey(static_cast<Program>(i)));
        AppendBool(Out, name.View(), row.State == Readiness::Ready);
        name.Clear();
        name.Append(L"blocker_");
        name.Append(ProgramKey(static_cast<Program>(i)));
        AppendText(Out, name.View(), true, row.Blocker != nullptr ? row.Blocker : NoBlocker);
    }
}

}  // namespace

JsonText FormatJsonReport(const MachineFacts& Facts, const Verdict& Result, const Outcome& Ended)
{
    const Report& values = Facts.Values;
    const bool reported = values.Written();
    const ReportFreshness& fresh = Facts.Freshness;
    const HypervisorFacts& hypervisor = Facts.Hypervisor;
    const WindowsView& windows = Facts.Windows;
    JsonText out;
    out.Append(L"{");
    AppendBool(out, L"report", values.KeyPresent);
    AppendText(out, L"report_written", reported && fresh.Known, fresh.WrittenUtc.View());
    AppendBool(out, L"report_this_boot", fresh.ThisBoot, reported && fresh.Known);
    AppendBool(out, L"report_matches_processor", fresh.MatchesProcessor, reported);
    AppendText(out, L"CPU_Vendor", values.VendorPresent, values.Vendor.View());
    AppendText(out, L"CPU_Name", values.NamePresent, values.Name.View());
    for (unsigned i = 0; i < ReportFlagCount; ++i) {
        AppendNumber(out, ReportFlagNames[i], values.Flags[i].Value, values.Flags[i].Present);
    }
    AppendBool(out, L"hypervisor_present", hypervisor.Present);
    AppendText(out, L"hypervisor_vendor", hypervisor.Present, hypervisor.Vendor.View());
    const HypervisorName name = NameHypervisor(hypervisor, Facts.System);
    FixedText<64> named;
    named.Append(name.Name);
    named.Append(name.Enlightened ? L" (with Hyper-V enlightenments)" : L"");
    AppendText(out, L"hypervisor_name", hypervisor.Present, named.View());
    AppendBool(out, L"hypervisor_root_partition", hypervisor.RootPartition);
    AppendBool(out, L"memory_integrity_running", windows.MemoryIntegrityRunning, windows.MemoryIntegrityKnown);
    AppendBool(out, L"windows_virtualization_firmware_enabled", windows.FirmwareEnabled, windows.Meaningful);
    AppendBool(out, L"windows_slat", windows.Slat, windows.Meaningful);
    AppendText(out, L"system_manufacturer", Facts.System.Present, Facts.System.Manufacturer.View());
    AppendText(out, L"system_product", Facts.System.Present, Facts.System.Product.View());
    const CpuidFeatures& cpu = Facts.Cpu;
    AppendBit(out, L"cpuid_vmx", cpu.Vmx);
    AppendBit(out, L"cpuid_smx", cpu.Smx);
    AppendBit(out, L"cpuid_svm", cpu.Svm, cpu.SvmKnown);
    AppendBit(out, L"cpuid_nested_paging", cpu.NestedPaging, cpu.NestedPagingKnown);
    AppendBit(out, L"cpuid_nx", cpu.Nx, cpu.SvmKnown);
    AppendBool(out, L"nx_enabled", windows.NxEnabled);
    AppendBool(out, L"driver_loaded", !Facts.Driver.Failed, Facts.Driver.Attempted);
    const wchar_t* blocker = Blocker(Facts, Result);
    AppendBool(out, L"ready", blocker == nullptr);
    AppendText(out, L"blocker", true, blocker != nullptr ? blocker : NoBlocker);
    AppendText(out, L"verdict", true, Result.Id);
    AppendText(out, L"verdict_text", true, Result.Text.View());
    AppendBool(out, L"verdict_refined_by_driver", Result.RefinedByDriver);
    AppendWindowsSide(out, Facts, Result);
    AppendNumber(out, L"exit_code", static_cast<unsigned long>(Ended.ExitCode), true);
    AppendNumber(out, L"error", Ended.Error, Ended.HasError);
    AppendText(out, L"error_text", Ended.Failed, Ended.ErrorText.View());
    out.Append(L"}\n");
    return out;
}
