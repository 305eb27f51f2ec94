// A vertical list of rows in sections, with cells made by the data source and reused by
// identifier. Rows are laid out from the top; a drag scrolls when scrolling is on.
#pragma once

#include "quillon/ui/Label.h"
#include "quillon/ui/View.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quillon::ui {

class TableView;

struct IndexPath {
    std::int64_t section = 0;
    std::int64_t row = 0;
    bool operator==(const IndexPath&) const = default;
};

enum class TableViewStyle { Plain = 0, Grouped = 1 };
enum class TableViewCellStyle { Default = 0 };
enum class TableViewCellSelectionStyle { None = 0, Blue = 1, Gray = 2, Default = 3 };
enum class TableViewCellSeparatorStyle { None = 0, SingleLine = 1 };

class QUILLON_UI_EXPORT TableViewCell : public View {
public:
    TableViewCell(TableViewCellStyle style, std::string reuseIdentifier);

    const std::string& reuseIdentifier() const { return reuseIdentifier_; }
    // Subviews go into the content view, which fills the cell.
    std::shared_ptr<View> contentView() const { return contentView_; }
    std::shared_ptr<Label> textLabel();
    TableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
    void setSelectionStyle(TableViewCellSelectionStyle style) { selectionStyle_ = style; }
    virtual void prepareForReuse() {}

    void layoutSubviews() override;

private:
    std::string reuseIdentifier_;
    std::shared_ptr<View> contentView_;
    std::shared_ptr<Label> textLabel_;
    TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Default;
};

class QUILLON_UI_EXPORT TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual std::int64_t numberOfSectionsInTableView(TableView& tableView) { return 1; }
    virtual std::int64_t tableViewNumberOfRowsInSection(TableView& tableView, std::int64_t section) = 0;
    virtual std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& tableView, IndexPath indexPath) = 0;
};

class QUILLON_UI_EXPORT TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;
    // 44 points when not answered.
    virtual double tableViewHeightForRowAtIndexPath(TableView& tableView, IndexPath indexPath) { return 44.0; }
    virtual void tableViewDidSelectRowAtIndexPath(TableView& tableView, IndexPath indexPath) {}
};

class QUILLON_UI_EXPORT TableView : public View {
public:
    TableView(const Rect& frame, TableViewStyle style);

    void setDataSource(TableViewDataSource* dataSource);
    void setDelegate(TableViewDelegate* delegate);
    TableViewDataSource* dataSource() const { return dataSource_; }
    TableViewDelegate* delegate() const { return delegate_; }
    TableViewStyle style() const { return style_; }
    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool enabled) { scrollEnabled_ = enabled; }
    TableViewCellSeparatorStyle separatorStyle() const { return separatorStyle_; }
    void setSeparatorStyle(TableViewCellSeparatorStyle style);

    // Asks the data source again (cells on screen go back to the reuse pool first).
    void reloadData();
    // A cell put back for reuse under `identifier`, or null (then make a new one).
    std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
    // The cell on screen for the row, or null.
    std::shared_ptr<TableViewCell> cellForRowAtIndexPath(IndexPath indexPath) const;
    std::vector<std::shared_ptr<TableViewCell>> visibleCells() const;
    Rect rectForRowAtIndexPath(IndexPath indexPath) const;
    double contentHeight() const;
    Point contentOffset() const { return bounds().origin; }
    void setContentOffset(Point offset);

    void layoutSubviews() override;
    void drawRect(const Rect& rect) override;
    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;

private:
    struct Row {
        IndexPath path;
        double y = 0, height = 0;
    };
    void computeRows();
    TableViewStyle style_;
    TableViewDataSource* dataSource_ = nullptr;
    TableViewDelegate* delegate_ = nullptr;
    bool scrollEnabled_ = true;
    bool loaded_ = false;
    TableViewCellSeparatorStyle separatorStyle_ = TableViewCellSeparatorStyle::SingleLine;
    std::vector<Row> rows_;
    std::vector<std::pair<IndexPath, std::shared_ptr<TableViewCell>>> visible_;
    std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusePool_;
    Point dragStart_;
    double dragOffset_ = 0;
    bool dragged_ = false;
};

}  // namespace quillon::ui
