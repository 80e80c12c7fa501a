// UEFI firmware variables and the restart into firmware setup (Microsoft
// Learn: GetFirmwareType, GetFirmwareEnvironmentVariableExW,
// SetFirmwareEnvironmentVariableExW, InitiateShutdownW). The functions are
// looked up at run time: a Windows without them refuses, it does not fail to start.
#pragma once

#include "operator/decisions/firmware_setup.h"

// Also enables SeSystemEnvironmentPrivilege, which both variable calls need.
FirmwareFacts ReadFirmwareFacts();

// Sets bit 0 of OsIndications, keeping its other bits, and restarts. If the
// restart cannot be started, OsIndications is put back as it was. Returns
// ERROR_SUCCESS or the Win32 error.
unsigned long RestartIntoFirmwareSetup();
