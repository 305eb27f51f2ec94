// The toolkit's replaceable methods in the dynamic method tables (platform::ObjectRuntime).
//
// Classes: "Object" (root), "View" < "Object", "Window" < "View", "ViewController" < "Object".
// Methods and the types their implementations have (the receiver first):
//   Window          "sendEvent:"          SendEventImp           types "v@:@"
//   ViewController  "viewDidLoad"         ViewDidLoadImp         types "v@:"
//   ViewController  "viewWillAppear:"     ViewAppearanceImp      types "v@:B"
//   ViewController  "viewWillDisappear:"  ViewAppearanceImp      types "v@:B"
// The base implementations (Window::sendEvent, ViewController::viewDidLoad, …) call what the
// table holds for their class, so a replacement sees every call that reaches the base.
#pragma once

#include "platform/runtime/ObjectRuntime.h"
#include "quillon/ui/Event.h"
#include "quillon/ui/Object.h"

namespace quillon::ui {

using SendEventImp = void (*)(Object& self, Event& event);
using ViewDidLoadImp = void (*)(Object& self);
using ViewAppearanceImp = void (*)(Object& self, bool animated);

inline constexpr const char* kWindowClass = "Window";
inline constexpr const char* kViewControllerClass = "ViewController";
inline constexpr const char* kSendEventSelector = "sendEvent:";
inline constexpr const char* kViewDidLoadSelector = "viewDidLoad";
inline constexpr const char* kViewWillAppearSelector = "viewWillAppear:";
inline constexpr const char* kViewWillDisappearSelector = "viewWillDisappear:";

// Registers the toolkit's classes and original implementations (once; every toolkit entry
// point that needs the tables calls it, and so may a hook installer before looking up).
QUILLON_UI_EXPORT void registerToolkitClasses();

}  // namespace quillon::ui
