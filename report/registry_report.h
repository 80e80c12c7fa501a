// The report: values under one fixed key that installers and support tools
// read after the driver has loaded. Every write names the key by its absolute
// path; no handle is held, and nothing is ever deleted.
#pragma once

#include "driver/kernel_services.h"

constexpr PCWSTR ReportKeyPath = L"\\Registry\\Machine\\Software\\Korimath";

// Writes Text (single-byte, NUL-terminated) as a REG_SZ value. When the
// kernel cannot convert it to UTF-16, nothing is written. Failures are not
// reported: the value stays missing or keeps what an earlier load wrote.
void WriteTextValue(PCWSTR ValueName, const char* Text);

// Writes Flag (0 or 1) as a 4-byte REG_DWORD value. Failures are not reported.
void WriteFlagValue(PCWSTR ValueName, ULONG Flag);
