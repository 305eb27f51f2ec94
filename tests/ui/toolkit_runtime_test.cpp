// The dynamic method tables and class names the operation trace relies on.
#include "platform/runtime/ObjectRuntime.h"
#include "platform/ui/MethodTables.h"
#include "quillon/ui.h"

#include <gtest/gtest.h>

namespace app {
class SettingsViewController : public quillon::ui::ViewController {};
}  // namespace app

namespace {

using platform::ObjectRuntime;

int gCalls = 0;
void first(quillon::ui::Object&) { gCalls += 1; }
void second(quillon::ui::Object&) { gCalls += 10; }

TEST(ObjectRuntime, AddLooksUpThroughSuperclassesAndReplaceReturnsThePrevious) {
    ASSERT_TRUE(ObjectRuntime::registerClass("RtBase"));
    ASSERT_TRUE(ObjectRuntime::registerClass("RtDerived", "RtBase"));
    EXPECT_FALSE(ObjectRuntime::registerClass("RtDerived", "RtBase"));
    EXPECT_FALSE(ObjectRuntime::registerClass("RtOrphan", "NoSuchClass"));

    EXPECT_TRUE(ObjectRuntime::addMethod("RtBase", "ping", platform::toImp(&first), "v@:"));
    EXPECT_FALSE(ObjectRuntime::addMethod("RtBase", "ping", platform::toImp(&second), "v@:"));  // own method exists
    // Inherited methods do not block an addition to the subclass.
    EXPECT_EQ(ObjectRuntime::lookup("RtDerived", "ping"), platform::toImp(&first));
    EXPECT_TRUE(ObjectRuntime::addMethod("RtDerived", "ping", platform::toImp(&second), "v@:"));
    EXPECT_EQ(ObjectRuntime::lookup("RtDerived", "ping"), platform::toImp(&second));

    EXPECT_EQ(ObjectRuntime::replaceMethod("RtBase", "ping", platform::toImp(&second), "xx"), platform::toImp(&first));
    EXPECT_EQ(ObjectRuntime::instanceMethod("RtBase", "ping")->types, "v@:");  // keeps its encoding
    EXPECT_EQ(ObjectRuntime::replaceMethod("RtBase", "pong", platform::toImp(&first), "v@:"), nullptr);  // added
    EXPECT_EQ(ObjectRuntime::lookup("RtBase", "pong"), platform::toImp(&first));
    EXPECT_FALSE(ObjectRuntime::classMethod("RtBase", "ping").has_value());
    EXPECT_EQ(ObjectRuntime::lookup("NoSuchClass", "ping"), nullptr);
}

TEST(ObjectRuntime, ToolkitClassesAreRegisteredAndClassNamesDropNamespaces) {
    quillon::ui::registerToolkitClasses();
    EXPECT_TRUE(ObjectRuntime::instanceMethod("Window", "sendEvent:").has_value());
    EXPECT_TRUE(ObjectRuntime::instanceMethod("ViewController", "viewWillAppear:").has_value());
    EXPECT_EQ(ObjectRuntime::superclassOf("Window").value_or(""), "View");

    auto button = std::make_shared<quillon::ui::Button>();
    auto settings = std::make_shared<app::SettingsViewController>();
    EXPECT_EQ(button->className(), "Button");
    EXPECT_EQ(settings->className(), "SettingsViewController");
    EXPECT_EQ(quillon::ui::classNameOf(typeid(std::vector<int>)), "vector<int, std::allocator<int> >");
}

}  // namespace
