// The demo's screens (the ledger list and its settings) and the feedback flow over them.
#pragma once

namespace ledger {

// Shows the screens and runs the main loop: until the event script in QUILLON_UI_SCRIPT has
// played, or for good in a real window. Returns the exit status.
int runScreens(void (*say)(const char*));

}  // namespace ledger
