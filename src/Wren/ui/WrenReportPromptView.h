// The confirmation card shown after feedback was handed over: a success icon and "反馈成功".
#pragma once

#include <quillon/ui.h>

#include <memory>

class WrenReportPromptView : public quillon::ui::View {
public:
    static constexpr double kCornerRadius = 20.0;

    // Adds a new card to the host, centred, fading in over 0.2 s, and returns it.
    static std::shared_ptr<WrenReportPromptView> showInView(const std::shared_ptr<quillon::ui::View>& host);
    // Fades out over 0.3 s and leaves the host 1.0 s later.
    void hide();

    // The card's frame in a host of these bounds: 55 % x 30 % of the host, or 35 % x 50 % when
    // the screen is in landscape, centred. Shared by both prompt cards.
    static quillon::ui::Rect frameInHost(const quillon::ui::Rect& hostBounds);

    explicit WrenReportPromptView(const quillon::ui::Rect& frame);
    void drawRect(const quillon::ui::Rect& rect) override;
};
