#include "platform/system/Location.h"

#include "platform/system/SystemRoot.h"

namespace platform::location {
namespace {
sys::Substitute<LocationProvider> gProvider;
}

LocationProvider* provider() { return gProvider.get(); }

void setProvider(std::shared_ptr<LocationProvider> p) { gProvider.set(std::move(p)); }

}  // namespace platform::location
