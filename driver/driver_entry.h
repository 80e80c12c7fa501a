// The two routines the platform calls: DriverEntry once per load (it is the
// image's entry point) and UnloadDriver once per unload.
#pragma once

#include "driver/kernel_services.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
extern "C" void UnloadDriver(PDRIVER_OBJECT DriverObject);
