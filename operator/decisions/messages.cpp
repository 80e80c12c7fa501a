#include "operator/decisions/messages.h"

#include "operator/decisions/exit_codes.h"

int ExitForFailure(unsigned long Error, bool Elevated, int Otherwise)
{
    return Error == ErrorAccessDenied && !Elevated ? ExitNotElevated : Otherwise;
}

const char* ExplainError(unsigned long Error, bool Elevated)
{
    switch (Error) {
    case ErrorFileNotFound:
        return "Windows cannot find the driver image where the service points: run \"korimath remove\", then "
               "\"korimath run\" again.";
    case ErrorPathNotFound:
        return "The folder the service points to cannot be reached by the kernel: run \"korimath remove\", then "
               "\"korimath run\" again.";
    case ErrorAccessDenied:
        return Elevated ? "Access denied, although korimath runs as administrator: another program holds the file "
                          "or service open without sharing it (an antivirus scan, a backup, a tool that lists "
                          "services), or security software refuses it; close it or restart Windows, then try again."
                        : "Access denied: run korimath from a command prompt opened with \"Run as administrator\".";
    case ErrorGenFailure:
        return "The driver refused to load on this system; send this output to Korimath support.";
    case ErrorBadExeFormat:
        return "The driver is not a valid x64 driver image for this Windows: korimath.exe is damaged or "
               "incomplete; download the release again and check it against SHA256SUMS.";
    case ErrorInvalidImageHash:
        return "Windows does not trust the driver's signature. Use a release signed through Microsoft's "
               "Hardware Dev Center for this Windows (Windows Server needs an HLK-tested signature). On a lab "
               "machine, test signing works only with Secure Boot turned off in firmware setup: then "
               "\"bcdedit /set testsigning on\", restart, and trust the test certificate.";
    case ErrorServiceRequestTimeout:
        return "The driver did not answer in time; restart Windows and try again.";
    case ErrorServiceDatabaseLocked:
        return "Another program is changing services right now (an installer or Windows Update): wait a minute "
               "and try again.";
    case ErrorServiceAlreadyRunning:
        return "The driver is already running; that is fine.";
    case ErrorServiceDisabled:
        return "The korimath service is disabled: run \"korimath remove\", then \"korimath run\" to install it "
               "again as a demand-start service.";
    case ErrorServiceDoesNotExist:
        return "No korimath service is installed: run \"korimath install\" or \"korimath run\".";
    case ErrorServiceCannotAcceptCtrl:
        return "The driver is busy starting or stopping: wait a moment and try again.";
    case ErrorServiceNotActive:
        return "The driver is not running; that is fine.";
    case ErrorSharingViolation:
        return "Another program has the driver file open (an antivirus scan, a backup, or a program that reads "
               "System32\\drivers): wait a moment and run korimath again, or restart Windows.";
    case ErrorServiceMarkedForDelete:
        return "The korimath service is marked for deletion, and Windows removes it only when no program holds "
               "it open: close the Services console (services.msc), Event Viewer, Process Explorer and any "
               "other tool that lists services, or restart Windows; then run korimath again.";
    case ErrorServiceExists:
        return "A service named korimath already exists: run \"korimath remove\" first.";
    case ErrorCancelled:
        return "Windows did not grant administrator rights (the elevation prompt was declined).";
    case ErrorDriverBlocked:
        return "Windows blocked this driver under one of its driver policies (an App Control for Business or "
               "Smart App Control policy, or a block rule of Windows itself); Event Viewer's "
               "Microsoft-Windows-CodeIntegrity/Operational log names the rule. Use a release signed through "
               "Microsoft's Hardware Dev Center, or allow the driver in that policy.";
    case ErrorDriverFailedPriorUnload:
        return "An earlier copy of the driver is still unloading: wait a moment or restart Windows, then try "
               "again.";
    default:
        return nullptr;
    }
}
