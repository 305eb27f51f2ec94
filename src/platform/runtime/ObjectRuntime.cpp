#include "platform/runtime/ObjectRuntime.h"

#include <map>
#include <mutex>
#include <shared_mutex>

namespace platform {
namespace {

struct ClassEntry {
    std::string superclass;
    std::map<std::string, Method> instanceMethods;
    std::map<std::string, Method> classMethods;
};

struct Registry {
    std::shared_mutex mutex;
    std::map<std::string, ClassEntry, std::less<>> classes;
};

Registry& registry() {
    static auto* r = new Registry;  // never destroyed: callers may run during exit
    return *r;
}

// Walks the class and its superclasses; the registry's lock is held by the caller.
const Method* find(Registry& r, const std::string& cls, const std::string& selector, bool isClassMethod) {
    std::string name = cls;
    for (int depth = 0; depth < 64 && !name.empty(); ++depth) {
        auto it = r.classes.find(name);
        if (it == r.classes.end()) return nullptr;
        const auto& table = isClassMethod ? it->second.classMethods : it->second.instanceMethods;
        auto m = table.find(selector);
        if (m != table.end()) return &m->second;
        name = it->second.superclass;
    }
    return nullptr;
}

}  // namespace

bool ObjectRuntime::registerClass(const std::string& name, const std::string& superclass) {
    auto& r = registry();
    std::unique_lock lock(r.mutex);
    if (name.empty() || r.classes.count(name)) return false;
    if (!superclass.empty() && !r.classes.count(superclass)) return false;
    r.classes[name].superclass = superclass;
    return true;
}

bool ObjectRuntime::classExists(const std::string& name) {
    auto& r = registry();
    std::shared_lock lock(r.mutex);
    return r.classes.count(name) != 0;
}

std::optional<std::string> ObjectRuntime::superclassOf(const std::string& name) {
    auto& r = registry();
    std::shared_lock lock(r.mutex);
    auto it = r.classes.find(name);
    if (it == r.classes.end() || it->second.superclass.empty()) return std::nullopt;
    return it->second.superclass;
}

std::optional<Method> ObjectRuntime::instanceMethod(const std::string& cls, const std::string& selector) {
    auto& r = registry();
    std::shared_lock lock(r.mutex);
    const Method* m = find(r, cls, selector, false);
    if (!m) return std::nullopt;
    return *m;
}

std::optional<Method> ObjectRuntime::classMethod(const std::string& cls, const std::string& selector) {
    auto& r = registry();
    std::shared_lock lock(r.mutex);
    const Method* m = find(r, cls, selector, true);
    if (!m) return std::nullopt;
    return *m;
}

bool ObjectRuntime::addMethod(const std::string& cls, const std::string& selector, Imp imp, const std::string& types,
                              bool isClassMethod) {
    auto& r = registry();
    std::unique_lock lock(r.mutex);
    auto it = r.classes.find(cls);
    if (it == r.classes.end() || !imp) return false;
    auto& table = isClassMethod ? it->second.classMethods : it->second.instanceMethods;
    return table.emplace(selector, Method{imp, types}).second;
}

Imp ObjectRuntime::replaceMethod(const std::string& cls, const std::string& selector, Imp imp, const std::string& types,
                                 bool isClassMethod) {
    auto& r = registry();
    std::unique_lock lock(r.mutex);
    auto it = r.classes.find(cls);
    if (it == r.classes.end() || !imp) return nullptr;
    auto& table = isClassMethod ? it->second.classMethods : it->second.instanceMethods;
    auto m = table.find(selector);
    if (m == table.end()) {
        table.emplace(selector, Method{imp, types});
        return nullptr;
    }
    Imp previous = m->second.imp;
    m->second.imp = imp;  // the method keeps its own type encoding
    return previous;
}

Imp ObjectRuntime::lookup(const std::string& cls, const std::string& selector, bool isClassMethod) {
    auto& r = registry();
    std::shared_lock lock(r.mutex);
    const Method* m = find(r, cls, selector, isClassMethod);
    return m ? m->imp : nullptr;
}

}  // namespace platform
