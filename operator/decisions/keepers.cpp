#include "operator/decisions/keepers.h"

#include "operator/decisions/messages.h"

namespace {

class Items {
public:
    explicit Items(FixedText<2048>& Step) : step_(Step) {}
    void Add(bool Shown, std::string_view What)
    {
        if (Shown) {
            step_.Append(any_ ? "; " : " ");
            step_.Append(What);
            any_ = true;
        }
    }
    bool Any() const { return any_; }

private:
    FixedText<2048>& step_;
    bool any_ = false;
};

}  // namespace

void AppendKeepers(FixedText<2048>& Step, const MachineFacts& Facts)
{
    const WindowsSide& side = Facts.Side;
    const Vbs& security = side.Security;
    const auto on = [&](OptionalFeature Feature) { return side.State(Feature) == FeatureState::Enabled; };
    Step.Append("Windows' own hypervisor holds it. First choice: switch such a program to its Windows Hypervisor "
                "Platform mode (VirtualBox 6 and later, VMware Workstation 15.5.5 and later, the Android Emulator)");
    Step.Append(on(OptionalFeature::HypervisorPlatform) ? "" : ", with the Windows Hypervisor Platform feature on");
    Step.Append(", which keeps every protection. Otherwise turn off what keeps the hypervisor running here, each at "
                "a cost, and restart:");
    Items items(Step);
    // Microsoft Learn, "Enable virtualization-based protection of code integrity" and "Configure Credential
    // Guard" (default enablement on Windows 11 22H2 and later writes no value).
    items.Add(ServiceRunning(security, SecurityService::MemoryIntegrity).Value || Facts.Windows.MemoryIntegrityRunning,
              "memory integrity (Windows Security > Device security > Core isolation; without it, kernel exploits "
              "are easier)");
    items.Add(ServiceRunning(security, SecurityService::CredentialGuard).Value,
              !security.LsaCfgFlags.Present && !security.PolicyLsaCfgFlags.Present
                  ? "Credential Guard, on by Windows' own default since Windows 11 22H2 (without it, stolen "
                    "sign-in secrets are easier to reuse)"
                  : "Credential Guard (without it, stolen sign-in secrets are easier to reuse)");
    items.Add(ServiceRunning(security, SecurityService::SystemGuard).Value,
              "System Guard Secure Launch (without it, the boot is measured less strictly)");
    items.Add(SetByPolicy(security), "virtualization-based security set by Group Policy or Intune, which only its "
                                     "administrator can change");
    items.Add(on(OptionalFeature::HyperV), "Hyper-V (its virtual machines stop)");
    items.Add(on(OptionalFeature::VirtualMachinePlatform), "Virtual Machine Platform (WSL 2 stops)");
    items.Add(on(OptionalFeature::HypervisorPlatform), "Windows Hypervisor Platform (its programs stop)");
    items.Add(on(OptionalFeature::Sandbox), "Windows Sandbox");
    items.Add(on(OptionalFeature::ApplicationGuard), "Microsoft Defender Application Guard");
    items.Add(side.HypervisorLaunch == LaunchSetting::Auto, "hypervisorlaunchtype Auto in the boot configuration");
    if (!items.Any()) {
        Step.Append(side.FeaturesError == ErrorElevationRequired
                        ? " not known: run korimath elevated to read Windows' features and boot configuration"
                        : " nothing korimath can name");
    }
    Step.Append(".");
    if (VbsLocked(security).Value) {
        Step.Append(" Some of it is locked in UEFI: a registry change alone does not turn it off, and the steps in "
                    "Microsoft's Credential Guard and memory integrity pages need someone at the machine.");
    }
    Step.Append(" Or all at once: \"bcdedit /set hypervisorlaunchtype off\" and a restart, which also stops WSL 2, "
                "Windows Sandbox, Hyper-V, memory integrity and Credential Guard (undo: \"bcdedit /set "
                "hypervisorlaunchtype auto\").");
}
