// Snapshot of the device's resources taken when a crash or customized-exception report is
// assembled: { "tssd", "assd", "pow", "mem", "cpu" }, each an array of the one measured
// string (empty when the measurement is missing).
#pragma once

#include "platform/foundation/Value.h"

class QuillonDiagnosticManager {
public:
    static QuillonDiagnosticManager& defaultManager();
    // Freshly measured at each call; a null Value after an internal error.
    platform::Value getDiagnosticInfo();

private:
    QuillonDiagnosticManager() = default;
};
