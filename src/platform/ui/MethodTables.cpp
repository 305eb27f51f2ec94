#include "platform/ui/MethodTables.h"

#include "quillon/ui/ViewController.h"
#include "quillon/ui/Window.h"

#include <mutex>

namespace quillon::ui {
namespace {

void windowSendEvent(Object& self, Event& event) {
    if (auto* window = dynamic_cast<Window*>(&self)) window->deliverEvent(event);
}
void viewControllerViewDidLoad(Object&) {}
void viewControllerViewWillAppear(Object&, bool) {}
void viewControllerViewWillDisappear(Object&, bool) {}

}  // namespace

void registerToolkitClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        using platform::ObjectRuntime;
        using platform::toImp;
        ObjectRuntime::registerClass("Object");
        ObjectRuntime::registerClass("View", "Object");
        ObjectRuntime::registerClass(kWindowClass, "View");
        ObjectRuntime::registerClass(kViewControllerClass, "Object");
        ObjectRuntime::addMethod(kWindowClass, kSendEventSelector, toImp(&windowSendEvent), "v@:@");
        ObjectRuntime::addMethod(kViewControllerClass, kViewDidLoadSelector, toImp(&viewControllerViewDidLoad), "v@:");
        ObjectRuntime::addMethod(kViewControllerClass, kViewWillAppearSelector, toImp(&viewControllerViewWillAppear),
                                 "v@:B");
        ObjectRuntime::addMethod(kViewControllerClass, kViewWillDisappearSelector,
                                 toImp(&viewControllerViewWillDisappear), "v@:B");
    });
}

namespace {
// Registered when the library is loaded, so that a hook installer finds the classes by name
// before any window or view controller exists.
struct Registration {
    Registration() { registerToolkitClasses(); }
} registration;
}  // namespace

}  // namespace quillon::ui
