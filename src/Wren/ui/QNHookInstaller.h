// Replaces a method's implementation in the toolkit's dynamic method tables with one taken
// from another class, keeping the original under a new name ("hookxx_" + the method's name)
// so that the replacement can call it. The operation trace uses it on the window's event
// dispatch and the view controllers' appearance callbacks.
#pragma once

#include <string>

class QNHookInstaller {
public:
    // Looks both classes up by name and installs an instance-method hook. False, with nothing
    // changed, when either method is missing or the hook is already installed.
    static bool installInstanceMethodHookWithOriginal(const std::string& originalClass,
                                                      const std::string& originalSelector,
                                                      const std::string& targetClass,
                                                      const std::string& targetSelector);
    // The same for class methods.
    static bool installClassMethodHookWithOriginal(const std::string& originalClass, const std::string& originalSelector,
                                                   const std::string& targetClass, const std::string& targetSelector);
    // The name the original implementation is kept under.
    static std::string getReplacementMethod(const std::string& selector);

private:
    static std::string createReplacementMethod(const std::string& selector);
    static bool installHookWithOriginal(const std::string& originalClass, const std::string& originalSelector,
                                        const std::string& targetClass, const std::string& targetSelector,
                                        bool isClassSelector);
};
