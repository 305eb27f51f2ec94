// Method tables by class name and method name, for the methods the operation trace replaces
// (the toolkit's window event dispatch and view-controller appearance callbacks).
//
// A class registers itself, its superclass and its replaceable methods with their original
// implementations; the methods' base implementations call whatever the table holds now.
// Lookups search the class, then its superclasses, as an object runtime's dispatch does. An
// implementation is a plain function pointer whose first parameter is the receiver; callers
// cast it to the method's real type (the type encoding string tells them apart).
#pragma once

#include <optional>
#include <string>

#pragma GCC visibility push(default)

namespace platform {

using Imp = void (*)();

struct Method {
    Imp imp = nullptr;
    std::string types;
};

class ObjectRuntime {
public:
    // False when the name is taken or the superclass (when not empty) is unknown.
    static bool registerClass(const std::string& name, const std::string& superclass = "");
    static bool classExists(const std::string& name);
    static std::optional<std::string> superclassOf(const std::string& name);

    // The method as the class answers it (its own, else inherited); nullopt when none.
    static std::optional<Method> instanceMethod(const std::string& cls, const std::string& selector);
    static std::optional<Method> classMethod(const std::string& cls, const std::string& selector);
    // Adds a method to the class itself. False when the class is unknown, the
    // implementation is null, or the class already has a method of that name of its own (an
    // inherited one does not count).
    static bool addMethod(const std::string& cls, const std::string& selector, Imp imp, const std::string& types,
                          bool isClassMethod = false);
    // Sets the class's own implementation, adding the method when the class has none of its
    // own. Returns the previous own implementation (null when it was added). Nothing changes
    // for an unknown class or a null implementation.
    static Imp replaceMethod(const std::string& cls, const std::string& selector, Imp imp, const std::string& types,
                             bool isClassMethod = false);
    // The implementation that a call would run, or null.
    static Imp lookup(const std::string& cls, const std::string& selector, bool isClassMethod = false);
};

template <class Fn>
Imp toImp(Fn* fn) {
    return reinterpret_cast<Imp>(fn);
}
template <class Fn>
Fn* fromImp(Imp imp) {
    return reinterpret_cast<Fn*>(imp);
}

}  // namespace platform

#pragma GCC visibility pop
