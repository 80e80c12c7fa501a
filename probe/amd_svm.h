// AMD SVM readiness: three flags, each written before the next source is read.
#pragma once

// Writes "SVM", "SVM_NP" and "VM_CR", in that order.
void ProbeAmdSvm();
