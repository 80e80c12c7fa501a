#include "report/registry_report.h"

void WriteTextValue(PCWSTR ValueName, const char* Text)
{
    ANSI_STRING ansiText;
    RtlInitAnsiString(&ansiText, Text);

    // On success the kernel allocates Buffer and ends it with a NUL that
    // Length does not count; the value's data takes that NUL too.
    UNICODE_STRING wideText = {};
    if (!NT_SUCCESS(RtlAnsiStringToUnicodeString(&wideText, &ansiText, TRUE))) {
        return;  // nothing was allocated: nothing to write, nothing to free
    }
    RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, ReportKeyPath, ValueName, REG_SZ, wideText.Buffer,
                          static_cast<ULONG>(wideText.Length) + sizeof(WCHAR));
    RtlFreeUnicodeString(&wideText);
}

void WriteFlagValue(PCWSTR ValueName, ULONG Flag)
{
    RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, ReportKeyPath, ValueName, REG_DWORD, &Flag,
                          sizeof(Flag));
}
