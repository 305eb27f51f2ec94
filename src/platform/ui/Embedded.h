// The embedded screen's side inside the toolkit (the host's side is quillon/ui/Embedding.h).
#pragma once

#include <memory>

#include "quillon/ui/Geometry.h"

namespace quillon::ui {
class Image;
class Object;
}  // namespace quillon::ui

namespace quillon::ui::detail {

// The host window's figures while a host embeds the screen (false otherwise).
bool embeddedScreen(Size& points, double& scale);
// The host's screenshot of its window, or null when no host supplies one.
std::shared_ptr<Image> hostScreenshot();
// The window, view controller and view that stand for the host window inside the toolkit
// (the backdrop the screens are drawn over, and what the flow presents from): not the
// host's screens, so the operation trace leaves them out.
bool isEmbeddingStandIn(const Object* object);
// Whether the operation trace leaves out an event of `object`: the stand-in's, and, while a
// host embeds the screen, every event while the feedback screens are up (no view of the
// toolkit's is then the host's).
bool isOutsideHostTrace(const Object* object);

}  // namespace quillon::ui::detail
