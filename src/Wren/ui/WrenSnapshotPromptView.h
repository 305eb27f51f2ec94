// The hint card shown over the snapshot editor when it opens: an animated hand and two lines
// telling the tester to draw on the problem and then describe it. Touches pass through it.
#pragma once

#include <quillon/ui.h>

#include <memory>

class WrenSnapshotPromptView : public quillon::ui::View {
public:
    static constexpr double kCornerRadius = 20.0;

    // Adds a new card to the host, centred, fading in over 0.2 s, and returns it.
    static std::shared_ptr<WrenSnapshotPromptView> showInView(const std::shared_ptr<quillon::ui::View>& host);
    // Hides the card and removes it from its host at once.
    void hide();

    explicit WrenSnapshotPromptView(const quillon::ui::Rect& frame);
    void drawRect(const quillon::ui::Rect& rect) override;
    void drawInContext(quillon::ui::GraphicsContext& context);

    // The hand's image view, or null when the animation could not be loaded.
    std::shared_ptr<quillon::ui::ImageView> handView() const { return handView_; }

private:
    std::shared_ptr<quillon::ui::ImageView> handView_;
};
