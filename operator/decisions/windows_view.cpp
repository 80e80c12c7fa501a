#include "operator/decisions/windows_view.h"

namespace {

// winnt.h; IsProcessorFeaturePresent (Microsoft Learn, processthreadsapi.h).
constexpr unsigned long PfNxEnabled = 12;
constexpr unsigned long PfSecondLevelAddressTranslation = 20;
constexpr unsigned long PfVirtFirmwareEnabled = 21;
// SYSTEM_CODEINTEGRITY_INFORMATION's CODEINTEGRITY_OPTION_HVCI_KMCI_ENABLED:
// kernel-mode code integrity enforced by the hypervisor (memory integrity).
constexpr unsigned long HvciKmciEnabled = 0x400;

}  // namespace

WindowsView DecideWindowsView(bool HypervisorPresent, ProcessorFeatureQuery Query,
                              const unsigned long* CodeIntegrityOptions)
{
    WindowsView view;
    view.Meaningful = !HypervisorPresent;
    view.NxEnabled = Query(PfNxEnabled);
    if (view.Meaningful) {
        view.FirmwareEnabled = Query(PfVirtFirmwareEnabled);
        view.Slat = Query(PfSecondLevelAddressTranslation);
    }
    if (CodeIntegrityOptions != nullptr) {
        view.MemoryIntegrityKnown = true;
        view.MemoryIntegrityRunning = (*CodeIntegrityOptions & HvciKmciEnabled) != 0;
    }
    return view;
}
