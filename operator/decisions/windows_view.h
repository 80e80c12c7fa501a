// Windows' own view of the processor: IsProcessorFeaturePresent, which
// Microsoft defines only while no hypervisor is present (under one, even in
// the root partition, both flags read 0), and whether memory integrity runs.
#pragma once

struct WindowsView {
    bool Meaningful = false;       // no hypervisor reported by CPUID
    bool FirmwareEnabled = false;  // PF_VIRT_FIRMWARE_ENABLED
    bool Slat = false;             // PF_SECOND_LEVEL_ADDRESS_TRANSLATION
    bool NxEnabled = true;         // PF_NX_ENABLED: data execution prevention is on, meaningful always
    bool MemoryIntegrityKnown = false;
    bool MemoryIntegrityRunning = false;  // CODEINTEGRITY_OPTION_HVCI_KMCI_ENABLED
};

// IsProcessorFeaturePresent in the program, a table in the tests.
using ProcessorFeatureQuery = bool (*)(unsigned long Feature);

// CodeIntegrityOptions: SystemCodeIntegrityInformation's options, or nullptr
// when Windows would not say.
WindowsView DecideWindowsView(bool HypervisorPresent, ProcessorFeatureQuery Query,
                              const unsigned long* CodeIntegrityOptions);
