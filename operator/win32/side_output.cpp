#include "operator/win32/side_output.h"

#include "operator/decisions/messages.h"
#include "operator/win32/console.h"

namespace {

constexpr std::wstring_view FeatureLabels[OptionalFeatureCount] = {
    L"Hyper-V", L"Virtual Machine Platform", L"Windows Hypervisor Platform", L"Windows Sandbox", L"WSL",
    L"Application Guard"};

std::wstring_view Said(Tri Value, std::wstring_view Yes, std::wstring_view No)
{
    return !Value.Known ? std::wstring_view(L"not known") : Value.Value ? Yes : No;
}

}  // namespace

void PrintLine(std::wstring_view Name, std::initializer_list<std::wstring_view> Parts)
{
    FixedText<2048> line;
    line.Append(L"  ");
    line.Append(Name);
    line.Append(Tail(L"                  ", Name.size()));
    for (const std::wstring_view part : Parts) {
        line.Append(part);
    }
    WriteUntrusted(line.View());
    WriteOut(L"\n");
}

void PrintWindowsSide(const MachineFacts& Facts)
{
    const WindowsSide& side = Facts.Side;
    const wchar_t* edition = EditionName(EditionOf(side.ProductType));
    FixedText<16> product;
    product.AppendNumber(side.ProductType);
    PrintLine(L"edition", {edition != nullptr ? edition : L"not known", L" (product type ", product.View(), L")"});
    if (side.Features[0] == FeatureState::NotRead) {
        PrintLine(L"features", {side.FeaturesError == ErrorElevationRequired ? L"not read: not elevated (\"korimath run\" reads them)"
                                : side.FeaturesError == ErrorModNotFound ? L"not available: this Windows has no DISM API"
                                                            : L"not read"});
    } else {
        for (unsigned i = 0; i < OptionalFeatureCount; ++i) {
            PrintLine(i == 0 ? L"features" : L"", {FeatureLabels[i], L": ", FeatureStateName(side.Features[i])});
        }
    }
    PrintLine(L"platform", {L"Windows Hypervisor Platform ", side.Whp == Platform::Usable    ? L"usable"
                                                             : side.Whp == Platform::NotUsable ? L"not usable"
                                                                                               : L"not available"});
    const wchar_t* setting = LaunchSettingName(side.HypervisorLaunch);
    PrintLine(L"boot", {L"hypervisorlaunchtype ", setting != nullptr ? setting : L"not read",
                        setting == nullptr && side.FeaturesError == ErrorElevationRequired ? L" (not elevated)" : L""});
    const Vbs& security = side.Security;
    PrintLine(L"VBS", {L"configured: ", Said(VbsConfigured(security), L"yes", L"no"), L", running: ",
                       Said(VbsRunning(security), L"yes", L"no"), L", UEFI lock: ", Said(VbsLocked(security), L"yes", L"no"),
                       SetByPolicy(security) ? L", set by policy" : L""});
    PrintLine(L"", {L"Credential Guard configured: ", Said(CredentialGuardConfigured(security), L"yes", L"no"),
                    L", running: ", Said(ServiceRunning(security, SecurityService::CredentialGuard), L"yes", L"no"),
                    L"; memory integrity configured: ", Said(MemoryIntegrityConfigured(security), L"yes", L"no")});
    const LaunchEvent& launch = side.Launch;
    if (launch.Found) {
        FixedText<16> id;
        id.AppendNumber(launch.Id);
        PrintLine(L"hypervisor launch", {L"event ", id.View(), L": ", launch.Text.View()});
    } else if (launch.Read) {
        PrintLine(L"hypervisor launch", {L"no event since Windows started"});
    }
}

void PrintWhatRuns(const MachineFacts& Facts, const WhatRuns& Runs)
{
    WriteOut(L"What runs here:\n");
    if (Runs.HostNote.Length != 0) {
        WriteOut(L"  ");
        WriteUntrusted(Runs.HostNote.View());
        WriteOut(L"\n");
    }
    for (unsigned i = 0; i < ProgramCount; ++i) {
        const ProgramRow& row = Runs.Rows[i];
        FixedText<256> name;
        name.Append(ProgramName(static_cast<Program>(i), Facts));
        WriteOut(L"  ");
        WriteOut(name.View());
        WriteOut(row.State == Readiness::Ready         ? L": ready"
                 : row.State == Readiness::Needs       ? L": needs attention ("
                 : row.State == Readiness::NotPossible ? L": not possible here ("
                                                       : L": not known (");
        if (row.Blocker != nullptr) {
            WriteOut(row.Blocker);
            WriteOut(L")");
        }
        const bool repeated = i != 0 && row.Step.View() == Runs.Rows[i - 1].Step.View();
        if (row.Step.Length != 0) {
            WriteOut(L". ");
            repeated ? WriteOut(L"The same step as above.") : WriteUntrusted(row.Step.View());
        }
        WriteOut(L"\n");
    }
}
