// The operation trace's replacements for the toolkit's window event dispatch and view
// controller appearance callbacks. They run with the window or view controller as receiver,
// call the original first (kept under its "hookxx_" name) and then record, reaching the
// window controller through its singleton.
#include "Wren/ui/QNHookInstaller.h"
#include "Wren/ui/WrenWindowController.h"
#include "platform/foundation/Logger.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/ObjectRuntime.h"
#include "platform/ui/Embedded.h"
#include "platform/ui/MethodTables.h"

namespace ui = quillon::ui;
using platform::ObjectRuntime;

namespace {

const char* const kTargetClass = "WrenWindowController";

template <class Imp>
Imp renamedOriginal(const char* cls, const char* selector) {
    return reinterpret_cast<Imp>(ObjectRuntime::lookup(cls, QNHookInstaller::getReplacementMethod(selector)));
}

std::string describe(const ui::Object& object) {
    return platform::format("<%s: %p>", object.className().c_str(), static_cast<const void*>(&object));
}

void sendEventReplacement(ui::Object& self, ui::Event& event) {
    // Delivery first, so that recording never holds up the host's events.
    if (auto original = renamedOriginal<ui::SendEventImp>(ui::kWindowClass, ui::kSendEventSelector))
        original(self, event);
    if (event.type() != ui::EventType::Touches || event.allTouches().empty()) return;
    const std::shared_ptr<ui::Touch>& touch = event.allTouches().front();
    if (!touch || touch->phase() != ui::TouchPhase::Began) return;
    std::shared_ptr<ui::View> view = touch->view();
    const ui::Point location = touch->locationInView(view.get());
    const std::string name = view ? view->className() : "(null)";
    platform::log(platform::format("tap:%s x:%f y:%f", name.c_str(), location.x, location.y));
    // Taps on the feedback screens themselves (their fields, mask and cards) are not the host's;
    // under an embedding host, the toolkit's views are the feedback screens.
    WrenWindowController& windowController = WrenWindowController::sharedInstance();
    if (!windowController.isOwnView(view) && !ui::detail::isOutsideHostTrace(view.get()))
        windowController.appendOperationRecord("tap:" + name);
}

void viewDidLoadReplacement(ui::Object& self) {
    if (auto original = renamedOriginal<ui::ViewDidLoadImp>(ui::kViewControllerClass, ui::kViewDidLoadSelector))
        original(self);
    std::string name = self.className();
    const bool traced = !ui::detail::isOutsideHostTrace(&self);
    platform::DispatchQueue::global().async([name, traced] {
        platform::log("viewDidLoad:" + name);
        if (traced) WrenWindowController::sharedInstance().appendOperationRecord("viewDidLoad:" + name);
    });
}

void viewWillAppearReplacement(ui::Object& self, bool animated) {
    if (auto original = renamedOriginal<ui::ViewAppearanceImp>(ui::kViewControllerClass, ui::kViewWillAppearSelector))
        original(self, animated);
    auto* controller = dynamic_cast<ui::ViewController*>(&self);
    if (!controller) return;
    std::weak_ptr<ui::ViewController> weak = controller->weak_from_this();
    std::string name = self.className(), description = describe(self);
    const bool traced = !ui::detail::isOutsideHostTrace(&self);
    platform::DispatchQueue::global().async([weak, name, description, traced] {
        WrenWindowController& windowController = WrenWindowController::sharedInstance();
        if (name.rfind("Wren", 0) != 0 && windowController.swipeGesture() && windowController.wayOfFeedback() != 0) {
            // The recogniser is a view object: it is attached on the main thread.
            ui::performOnMainThread([weak] {
                if (std::shared_ptr<ui::ViewController> controller = weak.lock())
                    WrenWindowController::sharedInstance().addSwipeGesture(controller);
            });
        }
        platform::log(platform::format("viewWillAppear:%s self:%s", name.c_str(), description.c_str()));
        if (traced) windowController.appendOperationRecord("viewWillAppear:" + name);
    });
}

void viewWillDisappearReplacement(ui::Object& self, bool animated) {
    if (auto original =
            renamedOriginal<ui::ViewAppearanceImp>(ui::kViewControllerClass, ui::kViewWillDisappearSelector))
        original(self, animated);
    auto* controller = dynamic_cast<ui::ViewController*>(&self);
    if (!controller) return;
    std::weak_ptr<ui::ViewController> weak = controller->weak_from_this();
    std::string name = self.className(), description = describe(self);
    const bool traced = !ui::detail::isOutsideHostTrace(&self);
    platform::DispatchQueue::global().async([weak, name, description, traced] {
        if (name.rfind("Wren", 0) != 0) {
            ui::performOnMainThread([weak] {
                if (std::shared_ptr<ui::ViewController> controller = weak.lock())
                    WrenWindowController::sharedInstance().removeSwipeGesture(controller);
            });
        }
        platform::log(platform::format("viewWillDisappear:%s self:%s", name.c_str(), description.c_str()));
        if (traced) WrenWindowController::sharedInstance().appendOperationRecord("viewWillDisappear:" + name);
    });
}

}  // namespace

void WrenWindowController::installHooks() {
    ui::registerToolkitClasses();
    // The replacements live on this class in the tables, as the hook table takes them from it.
    if (ObjectRuntime::registerClass(kTargetClass, "Object")) {
        ObjectRuntime::addMethod(kTargetClass, ui::kSendEventSelector, platform::toImp(&sendEventReplacement), "v@:@");
        ObjectRuntime::addMethod(kTargetClass, ui::kViewDidLoadSelector, platform::toImp(&viewDidLoadReplacement), "v@:");
        ObjectRuntime::addMethod(kTargetClass, ui::kViewWillAppearSelector, platform::toImp(&viewWillAppearReplacement),
                                 "v@:B");
        ObjectRuntime::addMethod(kTargetClass, ui::kViewWillDisappearSelector,
                                 platform::toImp(&viewWillDisappearReplacement), "v@:B");
    }
    QNHookInstaller::installInstanceMethodHookWithOriginal(ui::kWindowClass, ui::kSendEventSelector, kTargetClass,
                                                           ui::kSendEventSelector);
    QNHookInstaller::installInstanceMethodHookWithOriginal(ui::kViewControllerClass, ui::kViewDidLoadSelector,
                                                           kTargetClass, ui::kViewDidLoadSelector);
    QNHookInstaller::installInstanceMethodHookWithOriginal(ui::kViewControllerClass, ui::kViewWillAppearSelector,
                                                           kTargetClass, ui::kViewWillAppearSelector);
    QNHookInstaller::installInstanceMethodHookWithOriginal(ui::kViewControllerClass, ui::kViewWillDisappearSelector,
                                                           kTargetClass, ui::kViewWillDisappearSelector);
}
