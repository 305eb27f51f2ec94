#include "Wren/ui/WrenSnapshotPromptView.h"

#include "Wren/ui/ImageAnimatedGIF.h"
#include "Wren/ui/QNCGContextAddRoundRect.h"
#include "Wren/ui/WrenReportPromptView.h"
#include "platform/foundation/Files.h"

namespace ui = quillon::ui;

namespace {

const char* const kHandResource = "hand.2.0.7.gif";

// The animation's bytes: the name as a path first, then the resource folders (the main
// bundle, then the library's installed data).
platform::Bytes handAnimationData() {
    if (std::optional<std::string> data = platform::fs::readFile(kHandResource))
        return platform::Bytes(data->begin(), data->end());
    if (std::optional<std::string> path = ui::Image::pathForResource(kHandResource))
        if (std::optional<std::string> data = platform::fs::readFile(*path))
            return platform::Bytes(data->begin(), data->end());
    return {};
}

}  // namespace

WrenSnapshotPromptView::WrenSnapshotPromptView(const ui::Rect& frame) : ui::View(frame) {}

std::shared_ptr<WrenSnapshotPromptView> WrenSnapshotPromptView::showInView(const std::shared_ptr<ui::View>& host) {
    if (!host) return nullptr;
    const platform::Bytes data = handAnimationData();
    auto prompt = std::make_shared<WrenSnapshotPromptView>(WrenReportPromptView::frameInHost(host->bounds()));
    prompt->setCornerRadius(kCornerRadius);
    prompt->setHidden(true);
    prompt->setBackgroundColor(ui::Color::clearColor());
    prompt->setOpaque(false);
    prompt->setAlpha(0.0);
    // Touches go through to the editor below.
    prompt->setUserInteractionEnabled(false);
    host->addSubview(prompt);

    if (!data.empty()) {
        const ui::Size card = prompt->bounds().size;
        const double w = card.width / 2, h = card.height / 2;
        auto hand = std::make_shared<ui::ImageView>(ui::Rect((card.width - w) / 2, (card.height - h) / 6.0, w, h));
        hand->setImage(animatedImageWithAnimatedGIFData(data));
        hand->setBackgroundColor(ui::Color::clearColor());
        prompt->addSubview(hand);
        hand->startAnimating();
        prompt->handView_ = hand;
    }
    ui::View::animate(0.2, [prompt] {
        prompt->setHidden(false);
        prompt->setAlpha(1.0);
    });
    return prompt;
}

void WrenSnapshotPromptView::hide() {
    setHidden(true);
    removeFromSuperview();
}

void WrenSnapshotPromptView::drawRect(const ui::Rect& rect) {
    if (ui::GraphicsContext* context = ui::currentContext()) drawInContext(*context);
    ui::View::drawRect(rect);
}

void WrenSnapshotPromptView::drawInContext(ui::GraphicsContext& context) {
    const ui::Rect card = bounds();
    context.saveGState();
    QNCGContextAddRoundRect(context, card, kQNRectCornerAll, kCornerRadius);
    context.setFillColor(ui::Color::whiteColor());
    context.fillPath();

    ui::TextAttributes text;
    text.font = ui::Font::systemFontOfSize(14.0);
    text.color = ui::Color::lightGrayColor();
    const char* lines[] = {"将有问题的地方画出来", "然后点击文本按钮描述问题"};
    for (int i = 0; i < 2; ++i) {
        const ui::Size size = ui::sizeOfText(lines[i], text);
        context.drawText(lines[i], ui::Point{(card.size.width - size.width) / 2, card.size.height - (3 - i) * size.height},
                         text);
    }
    context.restoreGState();
}
