#include "Wren/ui/QNHookInstaller.h"

#include "platform/runtime/ObjectRuntime.h"

using platform::ObjectRuntime;

bool QNHookInstaller::installInstanceMethodHookWithOriginal(const std::string& originalClass,
                                                            const std::string& originalSelector,
                                                            const std::string& targetClass,
                                                            const std::string& targetSelector) {
    return installHookWithOriginal(originalClass, originalSelector, targetClass, targetSelector, false);
}

bool QNHookInstaller::installClassMethodHookWithOriginal(const std::string& originalClass,
                                                         const std::string& originalSelector,
                                                         const std::string& targetClass,
                                                         const std::string& targetSelector) {
    return installHookWithOriginal(originalClass, originalSelector, targetClass, targetSelector, true);
}

std::string QNHookInstaller::getReplacementMethod(const std::string& selector) {
    return createReplacementMethod(selector);
}

std::string QNHookInstaller::createReplacementMethod(const std::string& selector) { return "hookxx_" + selector; }

bool QNHookInstaller::installHookWithOriginal(const std::string& originalClass, const std::string& originalSelector,
                                              const std::string& targetClass, const std::string& targetSelector,
                                              bool isClassSelector) {
    auto lookup = [isClassSelector](const std::string& cls, const std::string& selector) {
        return isClassSelector ? ObjectRuntime::classMethod(cls, selector) : ObjectRuntime::instanceMethod(cls, selector);
    };
    const std::optional<platform::Method> original = lookup(originalClass, originalSelector);
    const std::optional<platform::Method> target = lookup(targetClass, targetSelector);
    if (!original || !target) return false;
    // Fails when the renamed original exists already, that is when the hook is installed.
    if (!ObjectRuntime::addMethod(originalClass, createReplacementMethod(originalSelector), original->imp,
                                  original->types, isClassSelector))
        return false;
    ObjectRuntime::replaceMethod(originalClass, originalSelector, target->imp, original->types, isClassSelector);
    return true;
}
