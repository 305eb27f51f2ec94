// A reachability source that answers the same flags for every target, for tests and
// benchmarks that must not depend on this machine's routes.
#pragma once

#include "platform/net/Reachability.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace testenv {

class FixedReachability : public platform::ReachabilitySource {
public:
    explicit FixedReachability(std::uint32_t flags) : flags_(flags) {}
    std::optional<std::uint32_t> flags(const platform::ReachabilityTarget&) override { return flags_; }
    int watch(std::function<void()>) override { return 1; }
    void unwatch(int) override {}

private:
    std::uint32_t flags_;
};

inline void useFixedReachability(std::uint32_t flags) {
    platform::setReachabilitySource(std::make_shared<FixedReachability>(flags));
}

}  // namespace testenv
