// The demo's screens, built on the toolkit the library ships (<quillon/ui.h>): a ledger list
// with a wrong total, and a settings screen presented over it. The feedback side is started
// with shake feedback on, so a shake (or the event script's "shake") opens the feedback flow.
//
//   quillon-demo screens   headless, driven by the event script named in QUILLON_UI_SCRIPT;
//                          with QUILLON_UI_BACKEND=sdl in a real window instead
#include "screens.h"

#include <quillon/ui.h>
#include <wren/Wren.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace ledger {

using namespace quillon::ui;

namespace {

struct Row {
    const char* payee;
    const char* amount;
};

const std::vector<Row> kRows{{"Bakery", "4.20"},  {"Rent", "950.00"},   {"Books", "25.99"},
                             {"Train", "12.40"},  {"Groceries", "61.35"}, {"Cinema", "18.00"}};

const Color kTint{0.0, 0.478, 1.0, 1.0};

std::shared_ptr<Label> makeLabel(const Rect& frame, const std::string& text, double size, const Color& color,
                                 TextAlignment alignment = TextAlignment::Left, bool bold = false) {
    auto label = std::make_shared<Label>(frame);
    label->setText(text);
    label->setFont(bold ? Font::boldSystemFontOfSize(size) : Font::systemFontOfSize(size));
    label->setTextColor(color);
    label->setTextAlignment(alignment);
    return label;
}

// A bar under the status bar with a title and an optional button on either side.
std::shared_ptr<View> makeNavigationBar(double width, const std::string& title) {
    auto bar = std::make_shared<View>(Rect(0, 0, width, 64));
    bar->setBackgroundColor(Color(0.97, 0.97, 0.97, 1.0));
    bar->addSubview(makeLabel(Rect(80, 20, width - 160, 44), title, 17, Color::blackColor(), TextAlignment::Center, true));
    auto line = std::make_shared<View>(Rect(0, 63.5, width, 0.5));
    line->setBackgroundColor(Color::lightGrayColor());
    bar->addSubview(line);
    return bar;
}

std::shared_ptr<Button> makeBarButton(const Rect& frame, const std::string& title, std::function<void()> action) {
    auto button = std::make_shared<Button>(frame);
    button->setTitle(title);
    button->setTitleColor(kTint);
    button->setAction(std::move(action));
    return button;
}

class SettingsViewController : public ViewController {
public:
    void viewDidLoad() override {
        ViewController::viewDidLoad();
        const auto root = view();
        const double width = root->bounds().size.width;
        root->setBackgroundColor(Color(0.94, 0.94, 0.96, 1.0));
        root->addSubview(makeNavigationBar(width, "Settings"));
        std::weak_ptr<ViewController> weak = weak_from_this();
        root->addSubview(makeBarButton(Rect(width - 76, 20, 70, 44), "Done", [weak] {
            if (auto self = weak.lock()) self->dismissViewController(true, {});
        }));
        const std::vector<std::pair<std::string, std::string>> items{
            {"Currency", "EUR"}, {"Round to cents", "On"}, {"Monthly budget", "1,200.00"}, {"Sync", "Off"}};
        double y = 100;
        for (const auto& [name, value] : items) {
            auto row = std::make_shared<View>(Rect(0, y, width, 44));
            row->setBackgroundColor(Color::whiteColor());
            row->addSubview(makeLabel(Rect(16, 0, 200, 44), name, 17, Color::blackColor()));
            row->addSubview(makeLabel(Rect(width - 156, 0, 140, 44), value, 17, Color::grayColor(), TextAlignment::Right));
            root->addSubview(row);
            y += 45;
        }
        root->addSubview(makeLabel(Rect(16, y + 12, width - 32, 60),
                                   "Shake the device to tell the developers about a problem.", 13,
                                   Color::grayColor()));
    }
};

class LedgerViewController : public ViewController, public TableViewDataSource, public TableViewDelegate {
public:
    void viewDidLoad() override {
        ViewController::viewDidLoad();
        const auto root = view();
        const Size size = root->bounds().size;
        root->setBackgroundColor(Color::whiteColor());
        root->addSubview(makeNavigationBar(size.width, "Household"));
        std::weak_ptr<ViewController> weak = weak_from_this();
        root->addSubview(makeBarButton(Rect(size.width - 86, 20, 80, 44), "Settings", [weak] {
            if (auto self = weak.lock()) self->presentViewController(std::make_shared<SettingsViewController>(), true, {});
        }));
        table_ = std::make_shared<TableView>(Rect(0, 64, size.width, 44.0 * kRows.size()), TableViewStyle::Plain);
        table_->setDataSource(this);
        table_->setDelegate(this);
        table_->setScrollEnabled(false);
        root->addSubview(table_);

        const double y = 64 + 44.0 * kRows.size() + 24;
        root->addSubview(makeLabel(Rect(16, y, 120, 30), "Total", 20, Color::blackColor(), TextAlignment::Left, true));
        // The sum leaves out the rent: the figure the tester marks on the screenshot.
        root->addSubview(
            makeLabel(Rect(size.width - 166, y, 150, 30), "121.94", 20, Color::blackColor(), TextAlignment::Right, true));
        selected_ = makeLabel(Rect(16, y + 50, size.width - 32, 24), "", 15, Color::grayColor());
        root->addSubview(selected_);
    }

    std::int64_t tableViewNumberOfRowsInSection(TableView&, std::int64_t) override {
        return static_cast<std::int64_t>(kRows.size());
    }
    std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& table, IndexPath path) override {
        auto cell = table.dequeueReusableCellWithIdentifier("entry");
        if (!cell) {
            cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "entry");
            auto amount = makeLabel(Rect(table.bounds().size.width - 136, 0, 120, 44), "", 17, Color::darkGrayColor(),
                                    TextAlignment::Right);
            amount->setTag(7);
            cell->contentView()->addSubview(amount);
        }
        const Row& row = kRows[static_cast<std::size_t>(path.row)];
        cell->textLabel()->setText(row.payee);
        if (auto amount = std::dynamic_pointer_cast<Label>(cell->contentView()->viewWithTag(7))) amount->setText(row.amount);
        return cell;
    }
    void tableViewDidSelectRowAtIndexPath(TableView&, IndexPath path) override {
        const Row& row = kRows[static_cast<std::size_t>(path.row)];
        selected_->setText(std::string("Selected: ") + row.payee + ", " + row.amount);
    }

private:
    std::shared_ptr<TableView> table_;
    std::shared_ptr<Label> selected_;
};

}  // namespace

int runScreens(void (*say)(const char*)) {
    WrenConfig config = WrenConfig::defaultConfig();
    config.reportOnlyWIFI = false;  // any link will do
    config.enabledReportUI = true;
    config.wayOfFeedback = 0;  // shake
    Wren::init("demo-app-key", config);
    Wren::setUserData("household", "ledger");
    Wren::setUserData("EUR", "currency");
    Wren::setUserData("1.4.0 (140)", "build");

    auto window = std::make_shared<Window>();
    window->setRootViewController(std::make_shared<LedgerViewController>());
    window->makeKeyAndVisible();

    const char* script = std::getenv("QUILLON_UI_SCRIPT");
    if (!script || !*script) {
        say("the ledger is on screen; shake to give feedback (close the window to end)");
        QNRunMainLoopFor(-1);
        return 0;
    }
    say("the ledger is on screen; the event script plays the tester's part");
    // The script starts once the window is visible and ends with a wait for the upload.
    for (int i = 0; i < 50 && !EventScript::isPlaying() && EventScript::commandsDelivered() == 0; ++i)
        QNRunMainLoopFor(0.1);
    while (EventScript::isPlaying()) QNRunMainLoopFor(0.1);
    char line[160];
    std::snprintf(line, sizeof line, "the script is done: %d commands delivered, %d lines skipped",
                  EventScript::commandsDelivered(), EventScript::linesSkipped());
    say(line);
    return EventScript::linesSkipped() == 0 ? 0 : 1;
}

}  // namespace ledger
