// Where nested virtualization is turned on for a virtual machine, by its
// host, each as its maker documents it; or that the host offers none, so
// that korimath never asks for a switch that does not exist.
#pragma once

#include "operator/decisions/machine_facts.h"

struct HostStep {
    bool Offered = true;    // false: this host offers this guest no nesting at all
    std::string_view Text;  // the step, or why there is none
};
HostStep NestingStep(const MachineFacts& Facts);
