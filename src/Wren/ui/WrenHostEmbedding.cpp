// The feedback flow's side of the embedding contract (quillon/ui/Embedding.h): the host's
// taps and screen changes go into the operation trace in the entries the toolkit's own hooks
// make, and closing the host's feedback window is the flow's Back.
#include <string>

#include "Wren/ui/WrenUISnapshotEditorToolsBar.h"
#include "Wren/ui/WrenWindowController.h"
#include "platform/foundation/Logger.h"
#include "quillon/ui/Embedding.h"

namespace ui = quillon::ui;

namespace {

// Host names are short type or page names; a longer one is cut rather than stored whole.
constexpr std::size_t kNameLimit = 200;

void record(const std::string& prefix, const char* name) {
    // The feedback screens pause the trace; a host event that slips in then is dropped too.
    if (!name || !*name || quillon_embed_screens_shown()) return;
    std::string text = prefix + std::string(name).substr(0, kNameLimit);
    platform::log(text);
    WrenWindowController::sharedInstance().appendOperationRecord(text);
}

}  // namespace

extern "C" void quillon_embed_trace_tap(const char* type_name) {
    // The flow's own views never count, as on the toolkit's screens.
    if (type_name && std::string(type_name).rfind("Wren", 0) == 0) return;
    record("tap:", type_name);
}

extern "C" void quillon_embed_trace_screen(const char* name, int appeared) {
    record(appeared ? "viewWillAppear:" : "viewWillDisappear:", name);
}

extern "C" void quillon_embed_back(void) {
    if (std::shared_ptr<ui::AlertView> alert = ui::AlertView::visibleAlert()) {
        alert->pressButton(0);  // the cancel button: an accidental shake
        return;
    }
    if (std::shared_ptr<WrenUISnapshotEditController> edit =
            WrenWindowController::sharedInstance().snapshotEditController())
        edit->snapshotEditorToolsBar(nullptr, kWrenToolsBarEventBack);
}
