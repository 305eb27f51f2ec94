// A host with a screen of its own on <quillon/ui.h>, linked against the shared libraries.
// ui_shared_host SCRIPT: shows the screen, plays the event script, prints the screen back
// end's name and exits when the script is done.
#include "platform/runtime/RunLoop.h"

#include <quillon/quillon.h>
#include <quillon/ui.h>

#include <cstdio>

using namespace quillon::ui;

namespace {

class DemoController : public ViewController {
public:
    void viewDidLoad() override {
        ViewController::viewDidLoad();
        auto root = view();
        root->setBackgroundColor(Color(0.95, 0.95, 0.97, 1));

        auto title = std::make_shared<Label>(Rect(20, 40, 335, 34));
        title->setFont(Font::boldSystemFontOfSize(24));
        title->setText("反馈问题 Feedback");
        root->addSubview(title);

        status_ = std::make_shared<Label>(Rect(20, 80, 335, 60));
        status_->setNumberOfLines(0);
        status_->setText("摇一摇即可向开发者反馈问题");
        status_->setTextColor(Color::darkGrayColor());
        root->addSubview(status_);

        auto button = std::make_shared<Button>(Rect(20, 150, 160, 44));
        button->setTitle("我要提建议");
        button->setBackgroundColor(Color::whiteColor());
        button->setCornerRadius(10);
        button->setAction([this] { status_->setText("已点击 tapped"); });
        root->addSubview(button);

        field_ = std::make_shared<TextField>(Rect(20, 210, 335, 40));
        field_->setPlaceholder("留个联系方式吧");
        field_->setBackgroundColor(Color::whiteColor());
        field_->setBorderWidth(1);
        field_->setBorderColor(Color::lightGrayColor());
        root->addSubview(field_);

        ImageContext context(Size{120, 120}, false, 0);
        auto& g = context.context();
        g.setFillColor(Color(0.2, 0.5, 0.9, 1));
        g.fillEllipseInRect(Rect(10, 10, 100, 100));
        auto image = std::make_shared<ImageView>(context.image());
        image->setFrame(Rect(127, 280, 120, 120));
        root->addSubview(image);
    }

    std::string summary() const { return "status " + status_->text() + "\nfield " + field_->text() + "\n"; }

private:
    std::shared_ptr<Label> status_;
    std::shared_ptr<TextField> field_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_shared_host SCRIPT\n");
        return 2;
    }
    auto window = std::make_shared<Window>();
    auto controller = std::make_shared<DemoController>();
    window->setRootViewController(controller);
    window->makeKeyAndVisible();
    bool played = EventScript::playFile(argv[1], [] { platform::RunLoop::main().stop(); });
    if (!played) return 1;
    QNRunMainLoopFor(30);
    std::printf("backend %s\n%s", Screen::main().backendName().c_str(), controller->summary().c_str());
    return EventScript::isPlaying() ? 1 : 0;
}
