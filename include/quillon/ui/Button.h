// A control that calls its action when a touch that began in it lifts inside it.
#pragma once

#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/View.h"

#include <functional>
#include <memory>
#include <string>

namespace quillon::ui {

class Image;

class QUILLON_UI_EXPORT Button : public View {
public:
    explicit Button(const Rect& frame = Rect());

    const std::string& title() const { return title_; }
    void setTitle(const std::string& title);
    Color titleColor() const { return titleColor_; }
    void setTitleColor(const Color& color);
    Font font() const { return font_; }
    void setFont(const Font& font);
    // An image drawn centred (above the title when both are set).
    void setImage(std::shared_ptr<Image> image);
    std::shared_ptr<Image> image() const { return image_; }
    void setAction(std::function<void()> action) { action_ = std::move(action); }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool isHighlighted() const { return highlighted_; }

    // Calls the action as a tap would.
    void sendActions();

    void drawRect(const Rect& rect) override;
    Size sizeThatFits(Size size) const override;
    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesCancelled(const TouchSet& touches, const Event& event) override;

private:
    std::string title_;
    Color titleColor_ = Color(0.0, 0.478, 1.0, 1.0);
    Font font_ = Font::systemFontOfSize(17.0);
    std::shared_ptr<Image> image_;
    std::function<void()> action_;
    bool enabled_ = true;
    bool highlighted_ = false;
};

}  // namespace quillon::ui
