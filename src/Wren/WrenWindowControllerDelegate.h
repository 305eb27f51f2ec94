// What the window controller tells its delegate (the loader) about the on-screen flow.
// Both methods are optional: the defaults do nothing.
#pragma once

#include "platform/foundation/Value.h"

class WrenWindowController;

class WrenWindowControllerDelegate {
public:
    virtual ~WrenWindowControllerDelegate() = default;
    // The user submitted feedback. The report holds "modifiedImageData" (JPEG bytes),
    // "commentText", "contactText" and "operation" (array of strings); a null report or
    // device record means there is nothing to send. True when the report was taken for
    // sending (or caching); the "sent" prompt shows only then.
    virtual bool windowController(WrenWindowController* controller, const platform::Value& commitReportData,
                                  const platform::Value& deviceInfo) {
        return false;
    }
    // The user switched shake feedback off from the alert.
    virtual void windowControllerClosedShakeReport(WrenWindowController* controller) {}
};
