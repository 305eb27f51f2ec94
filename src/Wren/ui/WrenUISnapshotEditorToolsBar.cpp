#include "Wren/ui/WrenUISnapshotEditorToolsBar.h"

using namespace quillon::ui;

namespace {

const Color kLabelColor{0.0, 0.5, 1.0, 1.0};

// The application frame is wider than high.
bool isLandscape() {
    const Rect f = Screen::main().applicationFrame();
    return f.size.width > f.size.height;
}

double statusBarHeight() { return Application::shared().statusBarFrame().size.height; }

std::shared_ptr<WrenUISnapshotEditorToolsBarItem> makeItem(std::int64_t index, const Rect& rect, std::int32_t event,
                                                           std::optional<std::string> label,
                                                           std::shared_ptr<Image> icon = nullptr) {
    auto item = std::make_shared<WrenUISnapshotEditorToolsBarItem>();
    item->index = index;
    item->rect = rect;
    item->event = event;
    item->label = std::move(label);
    item->icon = std::move(icon);
    return item;
}

}  // namespace

WrenUISnapshotEditorToolsBar::WrenUISnapshotEditorToolsBar(const Rect& frame, std::int32_t type)
    : View(frame), type_(type) {}

WrenUISnapshotEditorToolsBar::~WrenUISnapshotEditorToolsBar() = default;

void WrenUISnapshotEditorToolsBar::update() { setNeedsDisplay(); }

std::shared_ptr<WrenUISnapshotEditorToolsBarItem> WrenUISnapshotEditorToolsBar::currentBarItem(const Point& point) const {
    for (const auto& item : toolsBarItems_)
        if (item->rect.contains(point)) return item;
    return nullptr;
}

void WrenUISnapshotEditorToolsBar::touchesBegan(const TouchSet& touches, const Event& event) {
    const Touch* touch = touches.empty() ? nullptr : touches.front().get();
    currentItem_ = touch ? currentBarItem(touch->locationInView(this)) : nullptr;
    if (currentItem_) setNeedsDisplay();
}

void WrenUISnapshotEditorToolsBar::touchesEnded(const TouchSet& touches, const Event& event) {
    if (currentItem_ && delegate_) delegate_->snapshotEditorToolsBar(this, currentItem_->event);
}

void WrenUISnapshotEditorToolsBar::drawRect(const Rect& dirty) {
    GraphicsContext* context = GraphicsContext::current();
    if (!context) return;
    const Rect b = bounds();
    const double s = statusBarHeight();
    const bool landscape = isLandscape();
    TextAttributes text;
    text.font = Font::systemFontOfSize(kLabelFontSize);
    text.color = kLabelColor;
    context->saveGState();
    for (const auto& item : toolsBarItems_) {
        if (item == currentItem_) {
            Rect r = item->rect;
            if (item->event == kWrenToolsBarEventBack) r.origin.x -= 10.0;
            if (item->event == kWrenToolsBarEventBack || item->event == kWrenToolsBarEventSubmit) {
                r.origin.y += s;
                r.size.height -= s;
            }
            context->setFillColor(Color::lightGrayColor());
            context->fillRect(r);
        }
        if (!item->icon) {
            if (item->label) {
                const Size measured = sizeOfText(*item->label, text);
                const double t = type_ == 0 ? s : 0.0;
                context->drawText(*item->label,
                                  Rect({item->rect.origin.x + (item->rect.size.width - measured.width) / 2,
                                        (item->rect.size.height + t - measured.height) / 2},
                                       item->rect.size),
                                  text);
            }
        } else {
            const Size icon{item->icon->size().width / 3.0, item->icon->size().height / 3.0};
            context->drawImage(*item->icon, Rect({item->rect.origin.x + (item->rect.size.width - icon.width) / 2,
                                                  item->rect.origin.y + (item->rect.size.height - icon.height) / 2},
                                                 icon));
        }
        if (item->event == kWrenToolsBarEventBack) {
            const double x0 = b.origin.x + 10.0 + (landscape ? 4.0 : 0.0);
            const double c = 10.0;
            const double h = (b.size.height - s) * (landscape ? 0.6 : 0.45);
            const double y0 = (b.size.height + s - h) / 2;
            context->setLineWidth(kChevronLineWidth);
            context->setStrokeColor(kLabelColor);
            context->beginPath();
            context->moveToPoint(x0 + c, y0);
            context->addLineToPoint(x0, y0 + h / 2);
            context->addLineToPoint(x0 + c, y0 + h);
            context->strokePath();
        }
    }
    context->restoreGState();
}

// ---------------------------------------------------------------- top bar

WrenUISnapshotEditorTopToolsBar::WrenUISnapshotEditorTopToolsBar(const Rect& frame)
    : WrenUISnapshotEditorToolsBar(frame, 0) {
    const Rect b = bounds();
    const double w = b.size.width / 6.5;
    double x = b.size.width - w;
    for (std::int64_t i = 0; i < 2; ++i) {
        toolsBarItems_.push_back(makeItem(i, Rect{{x, b.origin.y}, {w, b.size.height}}, kWrenToolsBarEventSubmit,
                                          i == 0 ? std::optional<std::string>("提交") : std::nullopt));
        x -= w;
    }
    toolsBarItems_.push_back(
        makeItem(2, Rect{{13.0 + b.origin.x, b.origin.y}, {w, b.size.height}}, kWrenToolsBarEventBack, "返回"));
}

void WrenUISnapshotEditorTopToolsBar::reset() {
    currentItem_ = nullptr;
    setNeedsDisplay();
}

void WrenUISnapshotEditorTopToolsBar::update() {
    const Rect b = bounds();
    const bool landscape = isLandscape();
    const double w = b.size.width / (landscape ? 8.5 : 6.5);
    const double h = b.size.height;
    toolsBarItems_[0]->rect = Rect{{b.size.width - w, b.origin.y}, {w, h}};
    toolsBarItems_[1]->rect = Rect{{b.size.width - 2 * w, b.origin.y}, {w, h}};
    toolsBarItems_[2]->rect = Rect{{(landscape ? 12.0 : 15.0) + b.origin.x, b.origin.y}, {w, h}};
    setNeedsDisplay();
}

// ---------------------------------------------------------------- bottom bar

WrenUISnapshotEditorBottomToolsBar::WrenUISnapshotEditorBottomToolsBar(const Rect& frame)
    : WrenUISnapshotEditorToolsBar(frame, 1) {
    static const struct {
        const char* label;
        const char* icon;
        std::int32_t event;
    } kTools[] = {{"画笔", "pen.2.0.7.png", kWrenToolsBarEventPen},
                  {"备注", "text.2.0.7.png", kWrenToolsBarEventNote},
                  {"重置", "reset.2.0.7.png", kWrenToolsBarEventReset}};
    for (std::int64_t i = 0; i < 3; ++i)
        toolsBarItems_.push_back(makeItem(i, Rect{}, kTools[i].event, kTools[i].label, Image::imageNamed(kTools[i].icon)));
    layoutItems();
    currentItem_ = toolsBarItems_[0];
}

void WrenUISnapshotEditorBottomToolsBar::layoutItems() {
    const Rect b = bounds();
    const double w = b.size.width / 3.0;
    for (std::size_t i = 0; i < toolsBarItems_.size(); ++i)
        toolsBarItems_[i]->rect = Rect{{b.origin.x + static_cast<double>(i) * w, b.origin.y}, {w, b.size.height}};
}

void WrenUISnapshotEditorBottomToolsBar::reset() {
    currentItem_ = toolsBarItems_[0];
    setNeedsDisplay();
}

void WrenUISnapshotEditorBottomToolsBar::update() {
    layoutItems();
    setNeedsDisplay();
}
