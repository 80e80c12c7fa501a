#include "operator/messages.h"

const wchar_t* ExplainError(unsigned long Error)
{
    switch (Error) {
    case ErrorFileNotFound:
        return L"Windows cannot find the driver image where the service points: run \"korimath remove\", then "
               L"\"korimath run\" again.";
    case ErrorPathNotFound:
        return L"The folder the service points to cannot be reached by the kernel: run \"korimath remove\", then "
               L"\"korimath run\" again.";
    case ErrorAccessDenied:
        return L"Access denied: run korimath from a command prompt opened with \"Run as administrator\"; if it "
               L"already is, security software is refusing driver services.";
    case ErrorGenFailure:
        return L"The driver refused to load on this system; send this output to Korimath support.";
    case ErrorBadExeFormat:
        return L"The driver is not a valid x64 driver image for this Windows: korimath.exe is damaged or "
               L"incomplete; download the release again and check it against SHA256SUMS.";
    case ErrorInvalidImageHash:
        return L"Windows does not trust the driver's signature. Use a release signed through Microsoft's "
               L"Hardware Dev Center for this Windows (Windows Server needs an HLK-tested signature). On a lab "
               L"machine, test signing works only with Secure Boot turned off in firmware setup: then "
               L"\"bcdedit /set testsigning on\", restart, and trust the test certificate.";
    case ErrorServiceRequestTimeout:
        return L"The driver did not answer in time; restart Windows and try again.";
    case ErrorServiceDatabaseLocked:
        return L"Another program is changing services right now (an installer or Windows Update): wait a minute "
               L"and try again.";
    case ErrorServiceAlreadyRunning:
        return L"The driver is already running; that is fine.";
    case ErrorServiceDisabled:
        return L"The korimath service is disabled: run \"korimath remove\", then \"korimath run\" to install it "
               L"again as a demand-start service.";
    case ErrorServiceDoesNotExist:
        return L"No korimath service is installed: run \"korimath install\" or \"korimath run\".";
    case ErrorServiceCannotAcceptCtrl:
        return L"The driver is busy starting or stopping: wait a moment and try again.";
    case ErrorServiceNotActive:
        return L"The driver is not running; that is fine.";
    case ErrorServiceMarkedForDelete:
        return L"The korimath service is marked for deletion, and Windows removes it only when no program holds "
               L"it open: close the Services console (services.msc), Event Viewer, Process Explorer and any "
               L"other tool that lists services, or restart Windows; then run korimath again.";
    case ErrorServiceExists:
        return L"A service named korimath already exists: run \"korimath remove\" first.";
    case ErrorCancelled:
        return L"Windows did not grant administrator rights (the elevation prompt was declined).";
    case ErrorDriverBlocked:
        return L"Windows blocked this driver under one of its driver policies (an App Control for Business or "
               L"Smart App Control policy, or a block rule of Windows itself); Event Viewer's "
               L"Microsoft-Windows-CodeIntegrity/Operational log names the rule. Use a release signed through "
               L"Microsoft's Hardware Dev Center, or allow the driver in that policy.";
    case ErrorDriverFailedPriorUnload:
        return L"An earlier copy of the driver is still unloading: wait a moment or restart Windows, then try "
               L"again.";
    default:
        return nullptr;
    }
}
