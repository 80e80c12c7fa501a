// The driver's whole life: DriverEntry does all of the work, synchronously and
// in a fixed order, then the driver stays loaded and idle until it is stopped.
#include "driver/driver_entry.h"

#include "probe/amd_svm.h"
#include "probe/identity.h"
#include "probe/intel_vmx.h"
#include "report/registry_report.h"

// Nothing is held, so there is nothing to release; the report stays in the
// registry. This routine must call no kernel routine: the import table sits in
// the discardable INIT section, which is gone by the time the driver unloads.
extern "C" void UnloadDriver(PDRIVER_OBJECT DriverObject)
{
    UNREFERENCED_PARAMETER(DriverObject);
}

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    // The report always goes to the same key, whatever the service is called.
    UNREFERENCED_PARAMETER(RegistryPath);

    DriverObject->DriverUnload = UnloadDriver;

    char vendorText[IdentityTextSize];
    char brandText[IdentityTextSize];
    memset(vendorText, 0, sizeof(vendorText));
    memset(brandText, 0, sizeof(brandText));

    ReadVendorString(vendorText);
    ReadBrandString(brandText);
    WriteTextValue(L"CPU_Vendor", vendorText);
    WriteTextValue(L"CPU_Name", brandText);

    // Exact and case-sensitive: any other text, including one cut short by a
    // NUL byte, is another vendor and gets the two texts only.
    if (strcmp(vendorText, "GenuineIntel") == 0) {
        ProbeIntelVmx();
    } else if (strcmp(vendorText, "AuthenticAMD") == 0) {
        ProbeAmdSvm();
    }

    // A failed write leaves its value missing; it is never a reason to refuse
    // the load.
    return STATUS_SUCCESS;
}
