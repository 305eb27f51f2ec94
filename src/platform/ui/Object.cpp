#include "quillon/ui/Object.h"

#include "quillon/ui/Color.h"
#include "quillon/ui/Geometry.h"

#include <cxxabi.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace quillon::ui {

std::string classNameOf(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                     std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
    // Drop the namespaces: everything up to the last "::" outside template arguments.
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '<' || c == '(') ++depth;
        if (c == '>' || c == ')') --depth;
        if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') start = i + 2;
    }
    return name.substr(start);
}

Object::~Object() = default;

std::string Object::className() const { return classNameOf(typeid(*this)); }

bool Object::classNameHasPrefix(const std::string& prefix) const { return className().rfind(prefix, 0) == 0; }

AffineTransform AffineTransform::rotation(double radians) {
    double c = std::cos(radians), s = std::sin(radians);
    return {c, s, -s, c, 0, 0};
}

Color Color::colorWithPatternImage(std::shared_ptr<Image> image) {
    Color color(0, 0, 0, 1);
    color.pattern = std::move(image);
    return color;
}

}  // namespace quillon::ui
