// The root of the toolkit's objects that take part in the dynamic method tables (views,
// windows, view controllers) and the class-name helpers the trace and the console use.
#pragma once

#include "quillon/ui/Export.h"

#include <string>
#include <typeinfo>

namespace quillon::ui {

// The demangled name of a type without its namespaces: quillon::ui::Button gives "Button",
// app::SettingsViewController gives "SettingsViewController".
QUILLON_UI_EXPORT std::string classNameOf(const std::type_info& type);

class QUILLON_UI_EXPORT Object {
public:
    virtual ~Object();
    // The dynamic type's class name (see classNameOf).
    std::string className() const;
    // Whether the dynamic type's class name starts with `prefix`.
    bool classNameHasPrefix(const std::string& prefix) const;
};

template <class T>
std::string classNameOf(const T& object) {
    return classNameOf(typeid(object));
}

}  // namespace quillon::ui
