// Intel VMX readiness: eight raw flags, no verdict drawn from them.
#pragma once

// Reads CPUID leaf 1, IA32_FEATURE_CONTROL, CR0 and CR4, then writes
// "CPU_VT", "BIOSLock", "VMInSMX", "VMOutSideSMX", "CR0_NE", "CR0_PE",
// "CR0_PG" and "CR4_VMXE", in that order.
void ProbeIntelVmx();
