// Location through a provider found at run time. No provider is built in: a location service
// (for example GeoClue) plugs in by registering one; without one there is no location.
#pragma once

#include <memory>
#include <optional>

namespace platform::location {

struct Coordinate {
    double latitude = 0.0;
    double longitude = 0.0;
};

class LocationProvider {
public:
    virtual ~LocationProvider() = default;
    // Whether the user allows location services at all.
    virtual bool servicesEnabled() = 0;
    // The location the provider already holds, without asking for an update; nullopt when
    // it holds none.
    virtual std::optional<Coordinate> heldLocation() = 0;
};

// The registered provider, or nullptr when there is none.
LocationProvider* provider();
// Registers a provider (kept for the life of the process); nullptr removes it.
void setProvider(std::shared_ptr<LocationProvider> provider);

}  // namespace platform::location
