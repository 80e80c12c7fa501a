// One sentence per Win32 error the service manager and the loader give this
// program: what it means here and what to do next.
#pragma once

// Numeric, never localized text: Windows prints these in the user's language.
enum Win32Error : unsigned long {
    ErrorFileNotFound = 2,
    ErrorPathNotFound = 3,
    ErrorAccessDenied = 5,
    ErrorSharingViolation = 32,
    ErrorGenFailure = 31,
    ErrorBadExeFormat = 193,
    ErrorInvalidImageHash = 577,
    ErrorServiceRequestTimeout = 1053,
    ErrorServiceAlreadyRunning = 1056,
    ErrorServiceDisabled = 1058,
    ErrorServiceDoesNotExist = 1060,
    ErrorServiceCannotAcceptCtrl = 1061,
    ErrorServiceNotActive = 1062,
    ErrorServiceDatabaseLocked = 1055,
    ErrorServiceMarkedForDelete = 1072,
    ErrorServiceExists = 1073,
    ErrorCancelled = 1223,
    ErrorDriverBlocked = 1275,
    ErrorDriverFailedPriorUnload = 654,
    ErrorModNotFound = 126,
    ErrorElevationRequired = 740,
};

// nullptr for an error without a sentence of its own; the caller then prints
// the system's own message text. Plain ASCII. Elevated: this process runs as
// administrator, so access denied is not a missing elevation.
const char* ExplainError(unsigned long Error, bool Elevated);

// A failure's exit code: access denied means "not elevated" (3) only where
// the process is not; elevated, it is the action's own failure.
int ExitForFailure(unsigned long Error, bool Elevated, int Otherwise);
