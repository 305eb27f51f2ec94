#include "quillon/ui/ImageView.h"

#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/Image.h"

#include <algorithm>

namespace quillon::ui {

ImageView::ImageView(const Rect& frame) : View(frame) {
    setUserInteractionEnabled(false);
    setOpaque(false);
}

ImageView::ImageView(std::shared_ptr<Image> image)
    : ImageView(Rect(0, 0, image ? image->size().width : 0, image ? image->size().height : 0)) {
    setImage(std::move(image));
}

ImageView::~ImageView() {
    if (timer_) timer_->invalidate();
}

void ImageView::setImage(std::shared_ptr<Image> image) {
    stopAnimating();
    image_ = std::move(image);
    frame_ = 0;
    setNeedsDisplay();
    if (image_ && image_->images().size() > 1 && window()) startAnimating();
}

void ImageView::startAnimating() {
    if (timer_ || !image_ || image_->images().size() < 2) return;
    double step = image_->duration() > 0 ? image_->duration() / image_->images().size() : 1.0 / 30;
    std::weak_ptr<View> weak = weak_from_this();
    timer_ = Timer::scheduledTimer(step, true, [weak](Timer& t) {
        auto self = std::static_pointer_cast<ImageView>(weak.lock());
        if (!self || !self->image_ || self->image_->images().empty()) {
            t.invalidate();
            return;
        }
        self->frame_ = (self->frame_ + 1) % self->image_->images().size();
        self->setNeedsDisplay();
    });
}

void ImageView::stopAnimating() {
    if (timer_) timer_->invalidate();
    timer_.reset();
}

void ImageView::didMoveToWindow() {
    if (window()) {
        if (image_ && image_->images().size() > 1) startAnimating();
    } else {
        stopAnimating();
    }
}

void ImageView::drawRect(const Rect&) {
    auto* context = GraphicsContext::current();
    if (!context || !image_) return;
    const Image& shown =
        image_->images().empty() ? *image_ : *image_->images()[std::min(frame_, image_->images().size() - 1)];
    Rect b = bounds();
    Size s = shown.size();
    Rect target = b;
    if (contentMode() == ContentMode::ScaleAspectFit || contentMode() == ContentMode::ScaleAspectFill) {
        double fx = b.width() / s.width, fy = b.height() / s.height;
        double f = contentMode() == ContentMode::ScaleAspectFit ? std::min(fx, fy) : std::max(fx, fy);
        target = Rect(b.midX() - s.width * f / 2, b.midY() - s.height * f / 2, s.width * f, s.height * f);
    } else if (contentMode() == ContentMode::Center) {
        target = Rect(b.midX() - s.width / 2, b.midY() - s.height / 2, s.width, s.height);
    } else if (contentMode() == ContentMode::TopLeft) {
        target = Rect(b.x(), b.y(), s.width, s.height);
    }
    context->saveGState();
    context->clipToRect(b);
    context->drawImage(shown, target);
    context->restoreGState();
}

Size ImageView::sizeThatFits(Size) const { return image_ ? image_->size() : Size{}; }

}  // namespace quillon::ui
