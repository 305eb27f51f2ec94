// The edit screen's two tool bars: one view class that draws a row of items itself (no
// buttons), highlights the item under the finger and reports the item's event code to its
// delegate when the finger lifts. The top bar holds Back and Submit, the bottom bar Pen, Note
// and Reset.
#pragma once

#include <quillon/ui.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class WrenUISnapshotEditorToolsBar;

// Event codes reported by the bars.
enum WrenUISnapshotEditorToolsBarEvent : std::int32_t {
    kWrenToolsBarEventSubmit = 0,
    kWrenToolsBarEventBack = 1,
    kWrenToolsBarEventPen = 10,
    kWrenToolsBarEventNote = 11,
    kWrenToolsBarEventReset = 12,
};

class WrenUISnapshotEditorToolsBarDelegate {
public:
    virtual ~WrenUISnapshotEditorToolsBarDelegate() = default;
    virtual void snapshotEditorToolsBar(WrenUISnapshotEditorToolsBar* bar, std::int32_t event) {}
};

class WrenUISnapshotEditorToolsBarItem {
public:
    std::shared_ptr<quillon::ui::Image> icon;  // drawn instead of the label when present
    std::optional<std::string> label;
    quillon::ui::Rect rect{};  // in the bar's coordinates
    std::int64_t index = 0;
    std::int32_t event = 0;
};

class WrenUISnapshotEditorToolsBar : public quillon::ui::View {
public:
    static constexpr double kLabelFontSize = 16.0;
    static constexpr double kChevronLineWidth = 3.0;

    explicit WrenUISnapshotEditorToolsBar(const quillon::ui::Rect& frame, std::int32_t type = 0);
    ~WrenUISnapshotEditorToolsBar() override;

    void setDelegate(WrenUISnapshotEditorToolsBarDelegate* delegate) { delegate_ = delegate; }
    WrenUISnapshotEditorToolsBarDelegate* delegate() const { return delegate_; }
    const std::vector<std::shared_ptr<WrenUISnapshotEditorToolsBarItem>>& items() const { return toolsBarItems_; }
    std::shared_ptr<WrenUISnapshotEditorToolsBarItem> currentItem() const { return currentItem_; }
    std::int32_t type() const { return type_; }

    virtual void reset() {}
    // Lays the items out again for the current bounds and redraws.
    virtual void update();
    void drawRect(const quillon::ui::Rect& rect) override;
    void touchesBegan(const quillon::ui::TouchSet& touches, const quillon::ui::Event& event) override;
    void touchesMoved(const quillon::ui::TouchSet& touches, const quillon::ui::Event& event) override {}
    void touchesEnded(const quillon::ui::TouchSet& touches, const quillon::ui::Event& event) override;

protected:
    // The first item, in list order, whose rectangle contains the point.
    std::shared_ptr<WrenUISnapshotEditorToolsBarItem> currentBarItem(const quillon::ui::Point& point) const;

    WrenUISnapshotEditorToolsBarDelegate* delegate_ = nullptr;
    std::vector<std::shared_ptr<WrenUISnapshotEditorToolsBarItem>> toolsBarItems_;
    std::shared_ptr<WrenUISnapshotEditorToolsBarItem> currentItem_;
    std::int32_t type_ = 0;
};

// Submit (and the empty slot left of it, answering as Submit) on the right, Back on the left.
class WrenUISnapshotEditorTopToolsBar : public WrenUISnapshotEditorToolsBar {
public:
    explicit WrenUISnapshotEditorTopToolsBar(const quillon::ui::Rect& frame);
    void reset() override;
    void update() override;
};

// Pen, Note and Reset in three equal slots, each an icon or, without its resource, a label.
class WrenUISnapshotEditorBottomToolsBar : public WrenUISnapshotEditorToolsBar {
public:
    explicit WrenUISnapshotEditorBottomToolsBar(const quillon::ui::Rect& frame);
    void reset() override;
    void update() override;

private:
    void layoutItems();
};
