// A view that shows an image, scaled by its content mode; an animated image plays its frames
// in a loop on the main run loop while the view is in a window.
#pragma once

#include "quillon/ui/Timer.h"
#include "quillon/ui/View.h"

#include <memory>

namespace quillon::ui {

class Image;

class QUILLON_UI_EXPORT ImageView : public View {
public:
    explicit ImageView(const Rect& frame = Rect());
    explicit ImageView(std::shared_ptr<Image> image);
    ~ImageView() override;

    std::shared_ptr<Image> image() const { return image_; }
    void setImage(std::shared_ptr<Image> image);
    bool isAnimating() const { return timer_ != nullptr; }
    void startAnimating();
    void stopAnimating();
    // The frame shown now (0 for a still image).
    std::size_t currentFrameIndex() const { return frame_; }

    void drawRect(const Rect& rect) override;
    Size sizeThatFits(Size size) const override;

protected:
    void didMoveToWindow() override;

private:
    std::shared_ptr<Image> image_;
    std::shared_ptr<Timer> timer_;
    std::size_t frame_ = 0;
};

}  // namespace quillon::ui
