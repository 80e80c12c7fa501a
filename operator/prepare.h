// What install and run share: finding the korimath service and the System32
// copy, deciding (PlanInstall, PlanRun) and carrying that out, and undoing
// afterwards what run set up.
#pragma once

#include "operator/win32/driver_file.h"
#include "operator/win32/output.h"
#include "operator/win32/service_control.h"

struct Prepared {
    WideBuffer Windows;
    ServiceHandle Manager;
    FixedText<64> Name;   // korimath, or the name run gave its own service
    ServiceHandle Service;
    ServiceState Before;  // the service as found, for RestoreAfterRun
    WideBuffer CopyPath;
    HeldCopy Copy;        // the checked System32 copy, held until the driver has started
    DriverPlan Plan;
};

// ExitDone with the service ready to start, or the exit code of the failure said.
int Prepare(Output& To, bool ForRun, Prepared& Ready);

// After run: removes what it created (service and file) or restores what it
// repointed. ExitDone, or the failure's exit code.
int Undo(Output& To, Prepared& Ready);

// The service Name and the System32 copy go; the report stays. A service of
// run's own name that someone holds open is only marked for deletion: it
// goes when they let go and stops no later run, so that is no failure.
int Uninstall(Output& To, SC_HANDLE Manager, const wchar_t* Name, ServiceHandle& Service, const WideBuffer& CopyPath);
