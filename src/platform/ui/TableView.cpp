#include "quillon/ui/TableView.h"

#include "quillon/ui/GraphicsContext.h"

#include <algorithm>
#include <cmath>

namespace quillon::ui {

// ------------------------------------------------------------------ cells

TableViewCell::TableViewCell(TableViewCellStyle, std::string reuseIdentifier)
    : View(Rect(0, 0, 320, 44)), reuseIdentifier_(std::move(reuseIdentifier)) {
    setBackgroundColor(Color::whiteColor());
    contentView_ = std::make_shared<View>(bounds());
    contentView_->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    View::addSubview(contentView_);
}

std::shared_ptr<Label> TableViewCell::textLabel() {
    if (!textLabel_) {
        textLabel_ = std::make_shared<Label>(Rect(15, 0, std::max(0.0, bounds().width() - 30), bounds().height()));
        contentView_->addSubview(textLabel_);
    }
    return textLabel_;
}

void TableViewCell::layoutSubviews() {
    contentView_->setFrame(bounds());
    if (textLabel_) textLabel_->setFrame(Rect(15, 0, std::max(0.0, bounds().width() - 30), bounds().height()));
}

// ------------------------------------------------------------------ the table

TableView::TableView(const Rect& frame, TableViewStyle style) : View(frame), style_(style) {
    setBackgroundColor(style == TableViewStyle::Plain ? Color::whiteColor() : Color(0.94, 0.94, 0.96, 1));
    setClipsToBounds(true);
}

void TableView::setDataSource(TableViewDataSource* dataSource) {
    dataSource_ = dataSource;
    loaded_ = false;
    setNeedsLayout();
}

void TableView::setDelegate(TableViewDelegate* delegate) {
    delegate_ = delegate;
    loaded_ = false;
    setNeedsLayout();
}

void TableView::setSeparatorStyle(TableViewCellSeparatorStyle style) {
    separatorStyle_ = style;
    setNeedsDisplay();
}

void TableView::computeRows() {
    rows_.clear();
    if (!dataSource_) return;
    double y = 0;
    std::int64_t sections = std::max<std::int64_t>(0, dataSource_->numberOfSectionsInTableView(*this));
    for (std::int64_t s = 0; s < sections; ++s) {
        std::int64_t count = std::max<std::int64_t>(0, dataSource_->tableViewNumberOfRowsInSection(*this, s));
        for (std::int64_t r = 0; r < count; ++r) {
            IndexPath path{s, r};
            double h = delegate_ ? delegate_->tableViewHeightForRowAtIndexPath(*this, path) : 44.0;
            rows_.push_back({path, y, std::max(0.0, h)});
            y += std::max(0.0, h);
        }
    }
}

void TableView::reloadData() {
    for (auto& [path, cell] : visible_) {
        cell->removeFromSuperview();
        cell->prepareForReuse();
        reusePool_[cell->reuseIdentifier()].push_back(cell);
    }
    visible_.clear();
    loaded_ = false;
    setNeedsLayout();
    layoutIfNeeded();
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
    auto it = reusePool_.find(identifier);
    if (it == reusePool_.end() || it->second.empty()) return nullptr;
    auto cell = it->second.back();
    it->second.pop_back();
    return cell;
}

std::shared_ptr<TableViewCell> TableView::cellForRowAtIndexPath(IndexPath indexPath) const {
    for (const auto& [path, cell] : visible_) {
        if (path == indexPath) return cell;
    }
    return nullptr;
}

std::vector<std::shared_ptr<TableViewCell>> TableView::visibleCells() const {
    std::vector<std::shared_ptr<TableViewCell>> cells;
    for (const auto& [path, cell] : visible_) cells.push_back(cell);
    return cells;
}

Rect TableView::rectForRowAtIndexPath(IndexPath indexPath) const {
    for (const auto& row : rows_) {
        if (row.path == indexPath) return Rect(0, row.y, bounds().width(), row.height);
    }
    return Rect();
}

double TableView::contentHeight() const { return rows_.empty() ? 0 : rows_.back().y + rows_.back().height; }

void TableView::setContentOffset(Point offset) {
    Rect b = bounds();
    double maxY = std::max(0.0, contentHeight() - b.height());
    b.origin = {0, std::clamp(offset.y, 0.0, maxY)};
    setBounds(b);
    setNeedsLayout();
}

void TableView::layoutSubviews() {
    if (!loaded_) {
        computeRows();
        loaded_ = true;
    }
    // Cells of rows that left the visible area go back to the pool; rows that came in get one.
    Rect visibleRect = bounds();
    std::vector<std::pair<IndexPath, std::shared_ptr<TableViewCell>>> keep;
    for (auto& entry : visible_) {
        Rect r = rectForRowAtIndexPath(entry.first);
        if (!r.isEmpty() && r.intersects(visibleRect)) {
            keep.push_back(entry);
        } else {
            entry.second->removeFromSuperview();
            entry.second->prepareForReuse();
            reusePool_[entry.second->reuseIdentifier()].push_back(entry.second);
        }
    }
    visible_ = std::move(keep);
    if (!dataSource_) return;
    for (const auto& row : rows_) {
        Rect r(0, row.y, bounds().width(), row.height);
        if (!r.intersects(visibleRect) && !(row.height == 0 && r.y() >= visibleRect.y() && r.y() < visibleRect.maxY()))
            continue;
        auto cell = cellForRowAtIndexPath(row.path);
        if (!cell) {
            cell = dataSource_->tableViewCellForRowAtIndexPath(*this, row.path);
            if (!cell) continue;
            visible_.push_back({row.path, cell});
            addSubview(cell);
        }
        cell->setFrame(r);
    }
}

void TableView::drawRect(const Rect&) {
    if (separatorStyle_ == TableViewCellSeparatorStyle::None) return;
    auto* context = GraphicsContext::current();
    if (!context) return;
    context->setStrokeColor(Color(0.78, 0.78, 0.8, 1));
    context->setLineWidth(0.5);
    context->beginPath();
    for (const auto& row : rows_) {
        double y = row.y + row.height - 0.25;
        context->moveToPoint(15, y);
        context->addLineToPoint(bounds().width(), y);
    }
    context->strokePath();
}

void TableView::touchesBegan(const TouchSet& touches, const Event&) {
    if (touches.empty()) return;
    dragStart_ = touches.front()->windowLocation();
    dragOffset_ = bounds().y();
    dragged_ = false;
}

void TableView::touchesMoved(const TouchSet& touches, const Event&) {
    if (touches.empty() || !scrollEnabled_) return;
    double dy = touches.front()->windowLocation().y - dragStart_.y;
    if (std::fabs(dy) > 5) dragged_ = true;
    if (dragged_) setContentOffset({0, dragOffset_ - dy});
}

void TableView::touchesEnded(const TouchSet& touches, const Event&) {
    if (touches.empty() || dragged_ || !delegate_) return;
    Point p = touches.front()->locationInView(this);
    for (const auto& row : rows_) {
        if (p.y >= row.y && p.y < row.y + row.height) {
            delegate_->tableViewDidSelectRowAtIndexPath(*this, row.path);
            return;
        }
    }
}

}  // namespace quillon::ui
