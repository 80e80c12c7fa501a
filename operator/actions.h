// The actions: install, run and remove (the korimath service and its
// System32 copy of the driver, through the service control manager), and
// firmware-setup. Each returns its exit code.
#pragma once

#include "operator/win32/output.h"

int Install(Output& To);
int RunDriver(Output& To);
int Remove(Output& To);
int FirmwareSetup(Output& To, bool Yes);  // operator/firmware_setup_action.cpp
