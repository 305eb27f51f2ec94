// The full-screen edit screen the window controller presents after the screenshot: the
// drawing canvas with the screenshot, the top bar (Back, Submit), the bottom bar (Pen, Note,
// Reset), a dimming mask, the hint shown when the screen opens and the comment card with the
// comment and contact fields. It turns tool-bar events into actions on these views, refuses a
// submit without a comment, remembers the contact in "user.data" and forwards every accepted
// event to its delegate.
//
// The window controller calls, in order: the constructor, setDelegate, showWithImage,
// updateViewSize; after presentation showPromptView and initCommentContainerView; at submit
// modifiedImage, comment and contact.
#pragma once

#include "Wren/ui/WrenUISnapshotEditor.h"
#include "Wren/ui/WrenUISnapshotEditorToolsBar.h"

#include <quillon/ui.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QNTextView;
class WrenSnapshotPromptView;
class WrenUISnapshotEditController;
class WrenUserData;

class WrenUISnapshotEditControllerDelegate {
public:
    virtual ~WrenUISnapshotEditControllerDelegate() = default;
    // Every tool-bar event the screen accepted: 0 submit, 1 back, 10 pen, 11 note, 12 reset.
    // A submit refused for a missing comment is not forwarded.
    virtual void snapshotEditController(WrenUISnapshotEditController* controller, std::int32_t event) {}
};

class WrenUISnapshotEditController : public quillon::ui::ViewController,
                                     public WrenUISnapshotEditorDelegate,
                                     public WrenUISnapshotEditorToolsBarDelegate {
public:
    // Tool-bar visibility, kept in each bar's view tag.
    static constexpr std::int64_t kToolsBarShownTag = 998;
    static constexpr std::int64_t kToolsBarHiddenTag = 999;
    static constexpr std::size_t kContactLimit = 80;
    static constexpr std::size_t kCommentLimit = 350;
    static constexpr double kPromptSeconds = 4.0;

    WrenUISnapshotEditController();
    ~WrenUISnapshotEditController() override;

    void setDelegate(WrenUISnapshotEditControllerDelegate* delegate) { delegate_ = delegate; }
    WrenUISnapshotEditControllerDelegate* delegate() const { return delegate_; }

    // Keeps the screenshot and builds the canvas, the bars and the mask in view().
    void showWithImage(std::shared_ptr<quillon::ui::Image> image);
    // Lays the screen out for a container of this size in points (portrait or landscape).
    void updateViewSize(double width, double height);
    // The hint with the mask, hidden again after four seconds.
    void showPromptView();
    // The comment card, out of sight above the top edge until Note or a refused submit.
    void initCommentContainerView();

    std::shared_ptr<quillon::ui::Image> originalImage() const { return originalImage_; }
    // A fresh snapshot of this screen (the screenshot with the drawing once the bars are hidden).
    std::shared_ptr<quillon::ui::Image> modifiedImage();
    std::string comment() const;
    // The contact field's text, or "" when there is none.
    std::string contact() const;

    void viewDidLoad() override;

    // From the canvas: drawing hides the bars, lifting shows them, a double tap toggles them.
    void snapshotEditorDidBeginEdit(WrenUISnapshotEditor* editor) override;
    void snapshotEditorDidEndEdit(WrenUISnapshotEditor* editor) override;
    void snapshotEditorDoubleClick(WrenUISnapshotEditor* editor) override;
    // From the bars (bar may be null: Return in the contact field submits with no bar).
    void snapshotEditorToolsBar(WrenUISnapshotEditorToolsBar* bar, std::int32_t event) override;

    // The screen's parts, for the window controller's layout and for tests.
    std::shared_ptr<WrenUISnapshotEditor> snapshotEditor() const { return snapshotEditor_; }
    std::shared_ptr<WrenUISnapshotEditorTopToolsBar> topToolsBar() const { return topToolsBar_; }
    std::shared_ptr<WrenUISnapshotEditorBottomToolsBar> bottomToolsBar() const { return bottomToolsBar_; }
    std::shared_ptr<quillon::ui::View> maskView() const { return maskView_; }
    std::shared_ptr<WrenSnapshotPromptView> promptView() const { return promptView_; }
    std::shared_ptr<quillon::ui::View> containerView() const { return containerView_.lock(); }
    std::shared_ptr<QNTextView> commentView() const { return commentView_.lock(); }
    std::shared_ptr<quillon::ui::TextField> contactView() const { return contactView_.lock(); }
    double statusBarHeight() const { return statusBarHeight_; }

    // What replacing `range` of `text` by `replacement` may insert in a field of at most
    // `limit` characters: the replacement itself, its beginning cut to the room left (a
    // paste), or nothing when the field is full. Deletions always pass.
    static std::optional<std::string> limitedReplacement(const std::string& text, quillon::ui::Range range,
                                                         const std::string& replacement, std::size_t limit);

private:
    struct CommentCard;  // table data source and field delegates of the card

    void loadEditorViewInView(const std::shared_ptr<quillon::ui::View>& view,
                              const std::shared_ptr<quillon::ui::Image>& image);
    void setImage(const std::shared_ptr<quillon::ui::Image>& image);
    void hideKeyboardGesture();
    void saveUserData();
    void showCommentViewAndAnimateWithDuration(double duration);
    void hideCommentViewAndAnimateWithDuration(double duration);
    void showConmentView();
    void hidePromptView();
    void hidePromptViewDelay();
    void showTopToolsBar();
    void hideTopToolsBar();
    void showBottomToolsBar();
    void hideBottomToolsBar();

    WrenUISnapshotEditControllerDelegate* delegate_ = nullptr;
    double statusBarHeight_ = 0;
    std::shared_ptr<WrenUISnapshotEditor> snapshotEditor_;
    std::shared_ptr<quillon::ui::View> maskView_;
    std::shared_ptr<WrenSnapshotPromptView> promptView_;
    std::shared_ptr<quillon::ui::Image> originalImage_;
    std::shared_ptr<WrenUISnapshotEditorTopToolsBar> topToolsBar_;
    std::shared_ptr<WrenUISnapshotEditorBottomToolsBar> bottomToolsBar_;
    std::unique_ptr<WrenUserData> userData_;
    std::weak_ptr<quillon::ui::View> containerView_;
    std::weak_ptr<QNTextView> commentView_;
    std::weak_ptr<quillon::ui::TextField> contactView_;
    std::unique_ptr<CommentCard> card_;
};
