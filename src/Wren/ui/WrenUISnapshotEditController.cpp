#include "Wren/ui/WrenUISnapshotEditController.h"

#include "Wren/WrenUserData.h"
#include "Wren/ui/QNTextView.h"
#include "Wren/ui/WrenSnapshotPromptView.h"
#include "Wren/ui/WrenUIScreenSnapshot.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/runtime/RunLoop.h"

using namespace quillon::ui;

namespace {

constexpr double kBarHeight = 44.0;
constexpr double kCardCornerRadius = 16.0;
constexpr double kFieldFontSize = 14.0;
constexpr std::int64_t kCommentTag = 10;
constexpr std::int64_t kContactTag = 11;
constexpr std::int64_t kHairlineTag = 12;
constexpr const char* kCommentPlaceholder = "描述下遇到的问题";
constexpr const char* kContactPlaceholder = "留个联系方式吧";
const Color kPlaceholderColor{0.7, 0.7, 0.7, 0.7};
const Color kTopBarColor{1.0, 1.0, 1.0, 0.9};
const Color kBottomBarColor{0.2, 0.2, 0.2, 0.9};
const Color kMaskColor{0.3, 0.3, 0.3, 0.8};

bool isLandscape() {
    const Rect f = Screen::main().applicationFrame();
    return f.size.width > f.size.height;
}

std::string userDataPath() {
    return platform::format("%s/quillon/user.data", platform::fs::cachesDirectory().c_str());
}

// Number of characters (code points) in UTF-8 text.
std::size_t characterCount(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// The first `count` characters of UTF-8 text.
std::string firstCharacters(std::string_view text, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count) break;
    }
    return std::string(text.substr(0, i));
}

// The byte offset of character `index` (the end when the text is shorter).
std::size_t byteOffset(std::string_view text, std::size_t index) {
    return firstCharacters(text, index).size();
}

}  // namespace

// The comment card's table (three rows: comment, hairline, contact) and its fields' delegate.
// The three row views are made once and kept here, so a reload of the table keeps the text.
struct WrenUISnapshotEditController::CommentCard : TableViewDataSource,
                                                   TableViewDelegate,
                                                   TextFieldDelegate,
                                                   TextViewDelegate {
    explicit CommentCard(WrenUISnapshotEditController& owner) : owner(owner) {}

    WrenUISnapshotEditController& owner;
    std::shared_ptr<View> container;
    std::shared_ptr<TableView> table;
    std::shared_ptr<QNTextView> comment;
    std::shared_ptr<View> hairline;
    std::shared_ptr<TextField> contact;

    double cardHeight() const { return container->bounds().size.height; }

    std::int64_t tableViewNumberOfRowsInSection(TableView&, std::int64_t) override { return 3; }

    double tableViewHeightForRowAtIndexPath(TableView&, IndexPath path) override {
        if (path.row == 0) return 0.75 * cardHeight();
        if (path.row == 1) return 1.0 / Screen::main().scale();
        return 0.25 * cardHeight();
    }

    std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& tableView, IndexPath path) override {
        auto cell = tableView.dequeueReusableCellWithIdentifier("cell");
        if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "cell");
        cell->setSelectionStyle(TableViewCellSelectionStyle::None);
        const auto content = cell->contentView();
        for (const std::int64_t tag : {kCommentTag, kHairlineTag, kContactTag})
            if (auto old = content->viewWithTag(tag); old && old != content) old->removeFromSuperview();
        const Rect tb = tableView.bounds();
        const double cellWidth = cell->bounds().size.width > 0 ? cell->bounds().size.width : tb.size.width;
        const double contentWidth = content->bounds().size.width > 0 ? content->bounds().size.width : cellWidth;
        if (path.row == 0) {
            if (!comment) {
                comment = std::make_shared<QNTextView>(Rect(0, 0, tb.size.width, 0.75 * tb.size.height));
                comment->setTag(kCommentTag);
                comment->setFont(Font::systemFontOfSize(kFieldFontSize));
                comment->setText("");
                comment->setPlaceholder(kCommentPlaceholder);
                comment->setPlaceholderColor(kPlaceholderColor);
                comment->setReturnKeyType(ReturnKeyDefault);
                comment->setDelegate(this);
            }
            content->addSubview(comment);
        } else if (path.row == 1) {
            if (!hairline) {
                hairline = std::make_shared<View>();
                hairline->setTag(kHairlineTag);
                hairline->setBackgroundColor(Color::lightGrayColor());
            }
            hairline->setFrame(Rect(10.0, 0, contentWidth - 20.0 - std::max(0.0, cellWidth - tb.size.width),
                                    1.0 / Screen::main().scale()));
            content->addSubview(hairline);
        } else {
            if (!contact) {
                contact = std::make_shared<TextField>(Rect(5.0, 0, contentWidth - 40.0, 0.25 * tb.size.height));
                contact->setTag(kContactTag);
                contact->setFont(Font::systemFontOfSize(kFieldFontSize));
                contact->setPlaceholder(kContactPlaceholder);
                contact->setText(owner.userData_->contact.value_or(""));
                contact->setReturnKeyType(ReturnKeySend);
                contact->setDelegate(this);
            }
            content->addSubview(contact);
        }
        return cell;
    }

    bool textFieldShouldChangeCharactersInRange(TextField& field, Range range, const std::string& replacement) override {
        return applyLimited(field.text(), range, replacement, kContactLimit,
                            [&field](const std::string& text) { field.setText(text); });
    }

    bool textViewShouldChangeTextInRange(TextView& view, Range range, const std::string& replacement) override {
        return applyLimited(view.text(), range, replacement, kCommentLimit,
                            [&view](const std::string& text) { view.setText(text); });
    }

    // Return in the contact field submits; it never inserts a line break.
    bool textFieldShouldReturn(TextField&) override {
        owner.snapshotEditorToolsBar(nullptr, kWrenToolsBarEventSubmit);
        return false;
    }

    // Lets the change through as it is, applies a cut version itself, or refuses it.
    template <class SetText>
    static bool applyLimited(const std::string& text, Range range, const std::string& replacement, std::size_t limit,
                             SetText setText) {
        const auto allowed = limitedReplacement(text, range, replacement, limit);
        if (!allowed) return false;
        if (*allowed == replacement) return true;
        const std::size_t begin = byteOffset(text, range.location);
        const std::size_t end = byteOffset(text, range.location + range.length);
        setText(text.substr(0, begin) + *allowed + text.substr(end));
        return false;
    }
};

std::optional<std::string> WrenUISnapshotEditController::limitedReplacement(const std::string& text, Range range,
                                                                            const std::string& replacement,
                                                                            std::size_t limit) {
    if (replacement.empty()) return replacement;
    const std::size_t length = characterCount(text);
    const std::size_t replaced = std::min(range.length, length - std::min(range.location, length));
    const std::size_t kept = length - replaced;
    if (kept >= limit) return std::nullopt;
    const std::size_t room = limit - kept;
    if (characterCount(replacement) <= room) return replacement;
    return firstCharacters(replacement, room);
}

// ---------------------------------------------------------------- creation and loading

WrenUISnapshotEditController::WrenUISnapshotEditController() : userData_(std::make_unique<WrenUserData>()) {}

WrenUISnapshotEditController::~WrenUISnapshotEditController() {
    if (card_ && card_->table) {
        card_->table->setDataSource(nullptr);
        card_->table->setDelegate(nullptr);
    }
    if (card_ && card_->comment) card_->comment->setDelegate(nullptr);
    if (card_ && card_->contact) card_->contact->setDelegate(nullptr);
    if (snapshotEditor_) snapshotEditor_->setDelegate(nullptr);
    if (topToolsBar_) topToolsBar_->setDelegate(nullptr);
    if (bottomToolsBar_) bottomToolsBar_->setDelegate(nullptr);
}

void WrenUISnapshotEditController::viewDidLoad() {
    ViewController::viewDidLoad();
    statusBarHeight_ = Application::shared().statusBarFrame().size.height;
    auto stored = WrenUserData::unarchiveObjectWithFile(userDataPath());
    userData_ = std::make_unique<WrenUserData>(stored ? *stored : WrenUserData{});
}

void WrenUISnapshotEditController::showWithImage(std::shared_ptr<Image> image) {
    originalImage_ = std::move(image);
    if (snapshotEditor_) {
        setImage(originalImage_);
        return;
    }
    loadEditorViewInView(view(), originalImage_);
}

void WrenUISnapshotEditController::loadEditorViewInView(const std::shared_ptr<View>& host,
                                                        const std::shared_ptr<Image>& image) {
    const Rect b = host->bounds();
    snapshotEditor_ = WrenUISnapshotEditor::defaultSnapshotEditor(b);
    snapshotEditor_->setDelegate(this);
    snapshotEditor_->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin |
                                         AutoresizingFlexibleTopMargin | AutoresizingFlexibleBottomMargin);
    snapshotEditor_->setBackgroundImage(image);
    const Size canvas = snapshotEditor_->bounds().size;

    topToolsBar_ = std::make_shared<WrenUISnapshotEditorTopToolsBar>(
        Rect(0, 0, canvas.width, kBarHeight + statusBarHeight_));
    topToolsBar_->setDelegate(this);
    topToolsBar_->setBackgroundColor(kTopBarColor);
    topToolsBar_->setHidden(false);
    topToolsBar_->setTag(kToolsBarShownTag);

    bottomToolsBar_ = std::make_shared<WrenUISnapshotEditorBottomToolsBar>(
        Rect(0, canvas.height - kBarHeight, canvas.width, kBarHeight));
    bottomToolsBar_->setDelegate(this);
    bottomToolsBar_->setBackgroundColor(kBottomBarColor);
    bottomToolsBar_->setHidden(false);
    bottomToolsBar_->setTag(kToolsBarShownTag);

    maskView_ = std::make_shared<View>(b);
    maskView_->setHidden(true);
    maskView_->setBackgroundColor(kMaskColor);
    maskView_->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleWidth |
                                   AutoresizingFlexibleRightMargin | AutoresizingFlexibleTopMargin |
                                   AutoresizingFlexibleHeight | AutoresizingFlexibleBottomMargin);
    std::weak_ptr<ViewController> weak = weak_from_this();
    maskView_->addGestureRecognizer(std::make_shared<TapGestureRecognizer>([weak](GestureRecognizer&) {
        if (auto self = weak.lock()) static_cast<WrenUISnapshotEditController&>(*self).hideKeyboardGesture();
    }));

    host->setBackgroundColor(Color::lightGrayColor());
    host->addSubview(snapshotEditor_);
    host->addSubview(maskView_);
    host->addSubview(topToolsBar_);
    host->addSubview(bottomToolsBar_);
}

void WrenUISnapshotEditController::setImage(const std::shared_ptr<Image>& image) {
    const Size size = snapshotEditor_->bounds().size;
    snapshotEditor_->setBackgroundColor(
        Color::colorWithPatternImage(QNCGContextResizeImage(image, size.width, size.height)));
}

std::shared_ptr<Image> WrenUISnapshotEditController::modifiedImage() {
    return WrenUIScreenSnapshot::screenSnapshotByTopController(shared_from_this());
}

std::string WrenUISnapshotEditController::comment() const {
    const auto field = commentView();
    return field ? field->text() : std::string();
}

std::string WrenUISnapshotEditController::contact() const {
    const auto field = contactView();
    return field ? field->text() : std::string();
}

void WrenUISnapshotEditController::saveUserData() {
    userData_->contact = contact();
    const std::string path = userDataPath();
    if (!userData_->archiveRootObject(path)) platform::log(platform::format("could not write %s", path.c_str()));
}

// ---------------------------------------------------------------- the hint

void WrenUISnapshotEditController::showPromptView() {
    promptView_ = WrenSnapshotPromptView::showInView(view());
    std::weak_ptr<ViewController> weak = weak_from_this();
    performAfterDelay(kPromptSeconds, [weak] {
        if (auto self = weak.lock()) static_cast<WrenUISnapshotEditController&>(*self).hidePromptViewDelay();
    });
    if (maskView_) maskView_->setHidden(false);
}

void WrenUISnapshotEditController::hidePromptViewDelay() {
    if (!promptView_) return;
    hidePromptView();
    if (maskView_) maskView_->setHidden(true);
}

void WrenUISnapshotEditController::hidePromptView() {
    if (!promptView_) return;
    promptView_->hide();
    promptView_.reset();
}

// ---------------------------------------------------------------- the comment card

void WrenUISnapshotEditController::initCommentContainerView() {
    if (card_) return;
    const auto host = view();
    const Rect frame = host->frame();
    const double width = (isLandscape() ? 0.45 : 0.75) * frame.size.width;
    const double height = (frame.size.height + statusBarHeight_) * 0.3;
    card_ = std::make_unique<CommentCard>(*this);
    card_->container =
        std::make_shared<View>(Rect((frame.size.width - width) / 2, frame.origin.y - height, width, height));
    card_->container->setCornerRadius(kCardCornerRadius);
    card_->table = std::make_shared<TableView>(card_->container->bounds(), TableViewStyle::Plain);
    card_->table->setCornerRadius(kCardCornerRadius);
    card_->table->setScrollEnabled(false);
    card_->table->setSeparatorStyle(TableViewCellSeparatorStyle::None);
    card_->table->setDataSource(card_.get());
    card_->table->setDelegate(card_.get());
    card_->container->addSubview(card_->table);
    host->addSubview(card_->container);
    card_->table->reloadData();
    card_->table->layoutIfNeeded();
    containerView_ = card_->container;
    commentView_ = card_->comment;
    contactView_ = card_->contact;
}

void WrenUISnapshotEditController::showConmentView() {
    if (maskView_) maskView_->setHidden(false);
    if (card_) showCommentViewAndAnimateWithDuration(0.25);
}

void WrenUISnapshotEditController::showCommentViewAndAnimateWithDuration(double duration) {
    if (!card_) return;
    if (card_->comment) card_->comment->becomeFirstResponder();
    const double y = 2.0 + (isLandscape() ? statusBarHeight_ : topToolsBar_->frame().size.height);
    const auto card = card_->container;
    View::animate(duration, [card, y] {
        Rect f = card->frame();
        f.origin.y = y;
        card->setFrame(f);
    });
}

void WrenUISnapshotEditController::hideCommentViewAndAnimateWithDuration(double duration) {
    if (!card_) return;
    if (card_->comment) card_->comment->resignFirstResponder();
    if (card_->contact) card_->contact->resignFirstResponder();
    const auto card = card_->container;
    const double y = view()->frame().origin.y - card->frame().size.height;
    const auto move = [card, y] {
        Rect f = card->frame();
        f.origin.y = y;
        card->setFrame(f);
    };
    if (duration > 0) {
        View::animate(duration, move);
    } else {
        move();
    }
    if (card_->comment) {
        card_->comment->setPlaceholderColor(Color::lightGrayColor());
        card_->comment->update();
    }
}

void WrenUISnapshotEditController::hideKeyboardGesture() {
    if (maskView_) maskView_->setHidden(true);
    hidePromptView();
    hideCommentViewAndAnimateWithDuration(0.25);
    if (bottomToolsBar_) bottomToolsBar_->reset();
}

// ---------------------------------------------------------------- the bars

namespace {

void moveBar(const std::shared_ptr<View>& bar, double y, std::int64_t tag, double duration) {
    bar->setTag(tag);
    const auto move = [bar, y] {
        Rect f = bar->frame();
        f.origin.y = y;
        bar->setFrame(f);
    };
    if (duration > 0) {
        View::animate(duration, move);
    } else {
        move();
    }
}

constexpr double kBarAnimationSeconds = 0.25;

}  // namespace

void WrenUISnapshotEditController::showTopToolsBar() {
    moveBar(topToolsBar_, view()->frame().origin.y, kToolsBarShownTag, kBarAnimationSeconds);
}

void WrenUISnapshotEditController::hideTopToolsBar() {
    moveBar(topToolsBar_, view()->frame().origin.y - topToolsBar_->frame().size.height, kToolsBarHiddenTag,
            kBarAnimationSeconds);
}

void WrenUISnapshotEditController::showBottomToolsBar() {
    moveBar(bottomToolsBar_, view()->frame().size.height - bottomToolsBar_->frame().size.height, kToolsBarShownTag,
            kBarAnimationSeconds);
}

void WrenUISnapshotEditController::hideBottomToolsBar() {
    moveBar(bottomToolsBar_, view()->frame().size.height, kToolsBarHiddenTag, kBarAnimationSeconds);
}

void WrenUISnapshotEditController::snapshotEditorDidBeginEdit(WrenUISnapshotEditor*) {
    if (topToolsBar_ && topToolsBar_->tag() == kToolsBarShownTag) hideTopToolsBar();
    if (bottomToolsBar_ && bottomToolsBar_->tag() == kToolsBarShownTag) hideBottomToolsBar();
}

void WrenUISnapshotEditController::snapshotEditorDidEndEdit(WrenUISnapshotEditor*) {
    if (topToolsBar_ && topToolsBar_->tag() == kToolsBarHiddenTag) showTopToolsBar();
    if (bottomToolsBar_ && bottomToolsBar_->tag() == kToolsBarHiddenTag) showBottomToolsBar();
}

void WrenUISnapshotEditController::snapshotEditorDoubleClick(WrenUISnapshotEditor*) {
    if (topToolsBar_) topToolsBar_->tag() == kToolsBarShownTag ? hideTopToolsBar() : showTopToolsBar();
    if (bottomToolsBar_) bottomToolsBar_->tag() == kToolsBarShownTag ? hideBottomToolsBar() : showBottomToolsBar();
}

// ---------------------------------------------------------------- tool-bar events

void WrenUISnapshotEditController::snapshotEditorToolsBar(WrenUISnapshotEditorToolsBar* bar, std::int32_t event) {
    hidePromptView();
    if (maskView_) maskView_->setHidden(true);
    switch (event) {
        case kWrenToolsBarEventSubmit:
            if (comment().empty()) {
                // Refused in place: the card comes down with a red placeholder.
                if (card_ && card_->comment) {
                    card_->comment->setPlaceholderColor(Color::redColor());
                    card_->comment->update();
                }
                showConmentView();
                if (bar) bar->reset();
                return;
            }
            [[fallthrough]];
        case kWrenToolsBarEventBack:
            // Hidden at once, not animated: the delegate's snapshot must show the drawing only.
            moveBar(topToolsBar_, view()->frame().origin.y - topToolsBar_->frame().size.height, kToolsBarHiddenTag, 0);
            moveBar(bottomToolsBar_, view()->frame().size.height, kToolsBarHiddenTag, 0);
            hideCommentViewAndAnimateWithDuration(0);
            saveUserData();
            break;
        case kWrenToolsBarEventPen:
            snapshotEditor_->setLineWidth(WrenUISnapshotEditor::kDefaultLineWidth);
            snapshotEditor_->setLineColor(Color::blueColor());
            snapshotEditor_->setPenStyle(0);
            hideCommentViewAndAnimateWithDuration(0.2);
            break;
        case kWrenToolsBarEventNote:
            showConmentView();
            break;
        case kWrenToolsBarEventReset:
            snapshotEditor_->reset();
            if (bar) bar->reset();
            hideCommentViewAndAnimateWithDuration(0.2);
            break;
        default:
            break;
    }
    if (delegate_) delegate_->snapshotEditController(this, event);
}

// ---------------------------------------------------------------- layout

void WrenUISnapshotEditController::updateViewSize(double width, double height) {
    if (!snapshotEditor_) return;
    snapshotEditor_->updateForSize(Size{width, height});
    const double s = statusBarHeight_;
    const Size mode = Screen::main().currentModeSize();
    const bool largePhone = mode.width == 1242 && mode.height == 2208;
    if (width > height) {
        Rect top = topToolsBar_->frame();
        top.size = Size{width, largePhone ? kBarHeight + s : 0.8 * (kBarHeight + s)};
        topToolsBar_->setFrame(top);
        const double bottomHeight = largePhone ? kBarHeight : 35.2;
        bottomToolsBar_->setFrame(Rect(bottomToolsBar_->frame().origin.x, height - bottomHeight, width, bottomHeight));
    } else {
        const double canvasWidth = snapshotEditor_->bounds().size.width;
        Rect top = topToolsBar_->frame();
        top.size = Size{canvasWidth, kBarHeight + s};
        topToolsBar_->setFrame(top);
        bottomToolsBar_->setFrame(Rect(bottomToolsBar_->frame().origin.x, height - kBarHeight, canvasWidth, kBarHeight));
        if (card_ && card_->comment) {
            Rect f = card_->comment->frame();
            f.size.height = 0.8 * card_->container->frame().size.height;
            card_->comment->setFrame(f);
        }
    }
    topToolsBar_->update();
    bottomToolsBar_->update();
}
