// What keeps Windows' own hypervisor running here, for a program that needs
// VT-x or AMD-V for a hypervisor of its own: the Windows Hypervisor Platform
// route first, then each keeper korimath can name with its cost, then the
// one switch that turns them all off.
#pragma once

#include "operator/decisions/machine_facts.h"

void AppendKeepers(FixedText<2048>& Step, const MachineFacts& Facts);
