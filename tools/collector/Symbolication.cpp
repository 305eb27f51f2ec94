#include "Symbolication.h"

namespace collector {

namespace {
FrameResolver& slot() {
    static FrameResolver resolver;
    return resolver;
}
}  // namespace

void setFrameResolver(FrameResolver resolver) { slot() = std::move(resolver); }
const FrameResolver& frameResolver() { return slot(); }

}  // namespace collector
