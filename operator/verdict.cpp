#include "operator/verdict.h"

#include "operator/verdict_text.h"

namespace {

Verdict NotX64()
{
    return Make(L"not-x64-processor",
                "This is not an x64 processor: Windows on Arm runs this program under emulation, but korimath's x64 "
                "driver cannot load here, so this processor is not checked.");
}

// The driver could not load; what Windows and CPUID say without it.
Verdict WithoutDriver(const MachineFacts& Facts)
{
    const bool intel = Facts.Processor.Vendor.View() == L"GenuineIntel";
    const std::string_view feature = intel ? "VT-x" : "AMD-V";
    Verdict result;
    if (Facts.Hypervisor.Present) {
        result = Make(L"driver-not-loaded", "The driver could not load, so its flags were not read. ");
        if (Facts.Hypervisor.RootPartition) {
            result.Text.Append("Windows runs as the root partition of Microsoft's hypervisor, which uses ");
            result.Text.Append(feature);
            result.Text.Append(": it is enabled, and in use by that hypervisor.");
        } else {
            result.Text.Append("Windows runs as a virtual machine under ");
            AppendHypervisorName(result.Text, Facts.Hypervisor);
            result.Text.Append("; whether it can run virtual machines itself is up to that host.");
        }
    } else if (Facts.Windows.FirmwareEnabled) {
        result = Make(L"windows-view-enabled", "Windows reports hardware virtualization enabled in firmware");
        result.Text.Append(Facts.Windows.Slat ? ", and SLAT present." : ", but no SLAT, which Hyper-V requires.");
        result.Text.Append(" The driver could not load, so the firmware lock bits were not read.");
    } else {
        result = Make(L"windows-view-disabled", "Windows reports hardware virtualization not enabled in firmware: "
                                                "if the processor offers it, enable ");
        result.Text.Append(intel ? "\"Intel Virtualization Technology\"" : "\"SVM Mode\" (AMD-V)");
        result.Text.Append(" in firmware setup. The driver could not load, so whether the processor offers it, and "
                           "the firmware lock bits, were not read.");
    }
    Basis basis(result);
    basis.Number(L"driver error", Facts.Driver.Error).Hypervisor(Facts.Hypervisor);
    if (Facts.Windows.Meaningful) {
        basis.Number(L"PF_VIRT_FIRMWARE_ENABLED", Facts.Windows.FirmwareEnabled ? 1 : 0)
            .Number(L"PF_SECOND_LEVEL_ADDRESS_TRANSLATION", Facts.Windows.Slat ? 1 : 0);
    }
    return result;
}

Verdict Stale(const MachineFacts& Facts)
{
    const ReportFreshness& fresh = Facts.Freshness;
    Verdict result = Make(L"stale-report", "This report is not about this Windows as it runs now: ");
    if (!fresh.ThisBoot) {
        result.Text.Append("it was written before Windows last started (with Fast Startup, that is the last "
                           "restart, not the last power-on)");
    }
    if (!fresh.MatchesProcessor) {
        result.Text.Append(fresh.ThisBoot ? "it names another processor (" : ", and it names another processor (");
        result.Text.Append(Facts.Values.Vendor.View());
        result.Text.Append(" \"");
        result.Text.Append(Facts.Values.Name.View());
        result.Text.Append("\"; this one is ");
        result.Text.Append(Facts.Processor.Vendor.View());
        result.Text.Append(" \"");
        result.Text.Append(Facts.Processor.Brand.View());
        result.Text.Append("\")");
    }
    result.Text.Append(". Run \"korimath run\" from an elevated prompt for a fresh one.");
    Basis basis(result);
    if (fresh.Known) {
        basis.Named(L"written", fresh.WrittenUtc.View());
    }
    basis.Named(L"CPU_Vendor", Facts.Values.Vendor.View());
    return result;
}

Verdict OtherVendor(const MachineFacts& Facts)
{
    const std::wstring_view vendor = Facts.Values.Vendor.View();
    Verdict result =
        vendor == L"HygonGenuine"
            ? Make(L"other-vendor", "Hygon processors offer AMD-V (SVM), but korimath's driver does not read "
                                    "their registers.")
            : Make(L"other-vendor", "Not checked for this vendor: korimath reads the virtualization registers of "
                                    "\"GenuineIntel\" and \"AuthenticAMD\" processors only.");
    if (Facts.Windows.Meaningful) {
        result.Text.Append(Facts.Windows.FirmwareEnabled ? " Windows reports hardware virtualization enabled in "
                                                           "firmware."
                                                         : " Windows reports hardware virtualization not enabled in "
                                                           "firmware.");
    }
    Basis basis(result);
    basis.Named(L"CPU_Vendor", vendor);
    if (Facts.Windows.Meaningful) {
        basis.Number(L"PF_VIRT_FIRMWARE_ENABLED", Facts.Windows.FirmwareEnabled ? 1 : 0);
    }
    return result;
}

}  // namespace

void AppendWindowsDisagreement(Verdict& Result, const WindowsView& Windows, bool Expected)
{
    if (!Windows.Meaningful || Windows.FirmwareEnabled == Expected) {
        return;
    }
    Result.Text.Append(Windows.FirmwareEnabled
                           ? " Windows' own view disagrees: it reports virtualization enabled in firmware."
                           : " Windows' own view disagrees: it reports virtualization not enabled in firmware.");
    Basis(Result).Number(L"PF_VIRT_FIRMWARE_ENABLED", Windows.FirmwareEnabled ? 1 : 0);
}

Verdict IncompleteVerdict(const Report& Values)
{
    Verdict result = Make(L"incomplete-report", "The report for this ");
    result.Text.Append(Values.Vendor.View());
    result.Text.Append(" processor lacks values the verdict needs: run \"korimath run\" again from an elevated "
                       "prompt.");
    return result;
}

Verdict DecideVerdict(const MachineFacts& Facts)
{
    if (!Facts.NativeX64) {
        return NotX64();
    }
    if (Facts.Driver.Failed) {
        return WithoutDriver(Facts);
    }
    const Report& values = Facts.Values;
    if (!values.Written()) {
        return Make(L"no-report", "No report yet: HKLM\\Software\\Korimath holds no processor values. Run "
                                  "\"korimath run\" from a command prompt opened with \"Run as administrator\".");
    }
    if (Facts.Freshness.Stale()) {
        return Stale(Facts);
    }
    if (values.Vendor.View() == L"GenuineIntel") {
        return IntelVerdict(Facts);
    }
    if (values.Vendor.View() == L"AuthenticAMD") {
        return AmdVerdict(Facts);
    }
    return OtherVendor(Facts);
}
