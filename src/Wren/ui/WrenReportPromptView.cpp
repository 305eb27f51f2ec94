#include "Wren/ui/WrenReportPromptView.h"

#include "Wren/ui/QNCGContextAddRoundRect.h"

namespace ui = quillon::ui;

ui::Rect WrenReportPromptView::frameInHost(const ui::Rect& hostBounds) {
    const double w = hostBounds.size.width, h = hostBounds.size.height;
    const ui::Rect screen = ui::Screen::main().applicationFrame();
    const bool landscape = screen.size.width > screen.size.height;
    const double width = (landscape ? 0.35 : 0.55) * w;
    const double height = (landscape ? 0.5 : 0.3) * h;
    return ui::Rect((w - width) / 2, (h - height) / 2, width, height);
}

WrenReportPromptView::WrenReportPromptView(const ui::Rect& frame) : ui::View(frame) {}

std::shared_ptr<WrenReportPromptView> WrenReportPromptView::showInView(const std::shared_ptr<ui::View>& host) {
    if (!host) return nullptr;
    auto prompt = std::make_shared<WrenReportPromptView>(frameInHost(host->bounds()));
    prompt->setCornerRadius(kCornerRadius);
    prompt->setBorderWidth(1.0);
    prompt->setBorderColor(ui::Color::lightGrayColor());
    prompt->setHidden(true);
    prompt->setBackgroundColor(ui::Color::clearColor());
    prompt->setOpaque(false);
    prompt->setAlpha(0.0);
    host->addSubview(prompt);
    ui::View::animate(0.2, [prompt] {
        prompt->setHidden(false);
        prompt->setAlpha(1.0);
    });
    return prompt;
}

void WrenReportPromptView::hide() {
    auto self = std::static_pointer_cast<WrenReportPromptView>(shared_from_this());
    ui::View::animate(0.3, [self] { self->setAlpha(0.0); });
    ui::performAfterDelay(1.0, [self] { self->removeFromSuperview(); });
}

void WrenReportPromptView::drawRect(const ui::Rect& rect) {
    ui::GraphicsContext* context = ui::currentContext();
    if (!context) return;
    const ui::Size size = bounds().size;
    context->saveGState();
    QNCGContextAddRoundRect(*context, rect, kQNRectCornerAll, 15.0);
    context->setFillColor(ui::Color::whiteColor());
    context->fillPath();

    if (std::shared_ptr<ui::Image> icon = ui::Image::imageNamed("success.2.0.7.png")) {
        const double w = icon->size().width / 3.0, h = icon->size().height / 3.0;
        context->drawImage(*icon, ui::Rect((size.width - w) / 2 + rect.origin.x, (size.height - h) / 2 + rect.origin.y, w, h));
    }

    ui::TextAttributes text;
    text.font = ui::Font::systemFontOfSize(14.0);
    text.color = ui::Color::grayColor();
    const std::string title = "反馈成功";
    const ui::Size textSize = ui::sizeOfText(title, text);
    context->drawText(title, ui::Point{(size.width - textSize.width) / 2, size.height - 2 * textSize.height}, text);
    context->restoreGState();
}
