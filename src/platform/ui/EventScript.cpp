#include "quillon/ui/EventScript.h"

#include "platform/foundation/Logger.h"
#include "platform/runtime/RunLoop.h"
#include "quillon/ui/AlertView.h"
#include "quillon/ui/Application.h"
#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/Image.h"
#include "quillon/ui/MotionManager.h"
#include "quillon/ui/Timer.h"
#include "quillon/ui/Window.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace quillon::ui {

// ------------------------------------------------------------------ synthesised input

namespace input {
namespace {

struct ActiveTouch {
    std::shared_ptr<Touch> touch;
    std::shared_ptr<Window> window;
};

std::map<int, ActiveTouch>& active() {
    static auto* touches = new std::map<int, ActiveTouch>;
    return *touches;
}

// Key-window points to screen points.
Point toScreen(double x, double y) {
    auto key = Application::shared().keyWindow();
    Rect f = key ? key->frame() : Rect();
    return {x + f.x(), y + f.y()};
}

std::shared_ptr<Window> windowAt(Point screen) {
    auto windows = Application::shared().windows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        const auto& w = *it;
        if (!w->isHidden() && w->isUserInteractionEnabled() && w->frame().contains(screen)) return w;
    }
    return Application::shared().keyWindow();
}

// Sends the window an event with all of its active touches; the others are stationary.
void dispatch(const std::shared_ptr<Window>& window, const std::shared_ptr<Touch>& changed) {
    if (!window) return;
    TouchSet touches;
    for (auto& [finger, a] : active()) {
        if (a.window != window) continue;
        if (a.touch != changed) a.touch->update(TouchPhase::Stationary, a.touch->windowLocation(), a.touch->timestamp());
        touches.push_back(a.touch);
    }
    Event event(EventType::Touches, touches, mediaTime());
    window->sendEvent(event);
}

}  // namespace

void touchDown(int finger, double x, double y, int tapCount) {
    if (active().count(finger)) touchUp(finger, x, y);
    Point screen = toScreen(x, y);
    auto window = windowAt(screen);
    if (!window) return;
    Point local{screen.x - window->frame().x(), screen.y - window->frame().y()};
    auto touch = std::make_shared<Touch>(window, local, tapCount, mediaTime());
    active()[finger] = {touch, window};
    dispatch(window, touch);
}

void touchMove(int finger, double x, double y) {
    auto it = active().find(finger);
    if (it == active().end()) return;
    Point screen = toScreen(x, y);
    auto window = it->second.window;
    it->second.touch->update(TouchPhase::Moved, {screen.x - window->frame().x(), screen.y - window->frame().y()},
                             mediaTime());
    dispatch(window, it->second.touch);
}

void touchUp(int finger, double x, double y) {
    auto it = active().find(finger);
    if (it == active().end()) return;
    Point screen = toScreen(x, y);
    auto a = it->second;
    a.touch->update(TouchPhase::Ended, {screen.x - a.window->frame().x(), screen.y - a.window->frame().y()},
                    mediaTime());
    dispatch(a.window, a.touch);
    active().erase(finger);
}

namespace {
std::shared_ptr<View> firstResponder() {
    auto key = Application::shared().keyWindow();
    return key ? key->firstResponder() : nullptr;
}
}  // namespace

bool hasFirstResponder() { return firstResponder() != nullptr; }

void typeText(const std::string& text) {
    if (auto responder = firstResponder()) responder->insertText(text);
}
void pressReturn() {
    if (auto responder = firstResponder()) responder->returnKey();
}
void pressBackspace() {
    if (auto responder = firstResponder()) responder->deleteBackward();
}
void pressArrow(ArrowKey key) {
    if (auto responder = firstResponder()) responder->arrowKey(key);
}

namespace {
void dragSteps(const std::vector<std::pair<Point, Point>>& fingers, int steps, double seconds, int step,
               std::function<void()> then) {
    if (step > steps) {
        for (std::size_t f = 0; f < fingers.size(); ++f)
            touchUp(static_cast<int>(f), fingers[f].second.x, fingers[f].second.y);
        if (then) then();
        return;
    }
    double t = static_cast<double>(step) / steps;
    for (std::size_t f = 0; f < fingers.size(); ++f) {
        const auto& [a, b] = fingers[f];
        touchMove(static_cast<int>(f), a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t);
    }
    platform::RunLoop::main().performAfter(seconds / steps, [fingers, steps, seconds, step, then] {
        dragSteps(fingers, steps, seconds, step + 1, then);
    });
}
}  // namespace

void drag(const std::vector<std::pair<Point, Point>>& fingers, int steps, double seconds, std::function<void()> then) {
    for (std::size_t f = 0; f < fingers.size(); ++f)
        touchDown(static_cast<int>(f), fingers[f].first.x, fingers[f].first.y, 1);
    platform::RunLoop::main().performAfter(seconds / steps, [fingers, steps, seconds, then] {
        dragSteps(fingers, steps, seconds, 1, then);
    });
}

bool swipe(Point direction, int touches, std::function<void()> then) {
    auto key = Application::shared().keyWindow();
    if (!key || touches < 1) return false;
    Rect bounds = key->bounds();
    Point center = bounds.center(), v = direction;
    // Far enough for a swipe recogniser (50 points) on a small window too.
    double distance = std::max(0.4 * (v.x != 0 ? bounds.width() : bounds.height()), 60.0);
    std::vector<std::pair<Point, Point>> fingers;
    for (int f = 0; f < touches; ++f) {
        double offset = (f - (touches - 1) / 2.0) * 30;  // fingers side by side, 30 points apart
        Point base{center.x + (v.x == 0 ? offset : 0), center.y + (v.y == 0 ? offset : 0)};
        fingers.push_back({{base.x - v.x * distance / 2, base.y - v.y * distance / 2},
                           {base.x + v.x * distance / 2, base.y + v.y * distance / 2}});
    }
    drag(fingers, 10, 0.2, std::move(then));
    return true;
}

}  // namespace input

// ------------------------------------------------------------------ the player

namespace {

struct Player {
    std::string name;
    std::vector<std::string> lines;
    std::size_t next = 0;
    std::function<void()> finished;
    int delivered = 0;
    int skipped = 0;
    bool playing = false;
};

Player& player() {
    static auto* p = new Player;
    return *p;
}

void step();

void continueLater(double seconds = 0) { platform::RunLoop::main().performAfter(seconds, step); }

void skip(std::size_t lineNumber, const std::string& why, const std::string& line) {
    platform::logf("QUILLON_UI_SCRIPT %s:%zu: %s: \"%s\"; skipped", player().name.c_str(), lineNumber, why.c_str(),
                   line.c_str());
    ++player().skipped;
}

bool number(const std::string& word, double& out) {
    if (word.empty()) return false;
    char* end = nullptr;
    out = std::strtod(word.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out);
}

std::string trim(const std::string& s) {
    std::size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// Words of a command line; a "#" at the start of a word starts a comment.
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string w;
    while (in >> w) {
        if (w[0] == '#') break;
        out.push_back(w);
    }
    return out;
}

void tapAt(double x, double y, int tapCount, std::function<void()> then) {
    input::touchDown(0, x, y, tapCount);
    platform::RunLoop::main().performAfter(0.03, [x, y, then] {
        input::touchUp(0, x, y);
        then();
    });
}

// What the key window shows: the window itself and whatever window covers it (an alert).
std::shared_ptr<Image> keyWindowPicture(Window& key) {
    ImageContext context(key.bounds().size, false, 0);
    key.renderInContext(context.context());
    auto windows = Application::shared().windows();
    auto self = std::find_if(windows.begin(), windows.end(), [&](const auto& w) { return w.get() == &key; });
    for (auto it = self == windows.end() ? self : self + 1; it != windows.end(); ++it) {
        if ((*it)->isHidden()) continue;
        Rect f = (*it)->frame();
        context.context().saveGState();
        context.context().translateCTM(f.x() - key.frame().x(), f.y() - key.frame().y());
        (*it)->renderInContext(context.context());
        context.context().restoreGState();
    }
    return context.image();
}

void finish() {
    Player& p = player();
    p.playing = false;
    if (p.finished) {
        auto f = std::move(p.finished);
        f();
    }
}

void step() {
    Player& p = player();
    while (p.next < p.lines.size()) {
        const std::size_t lineNumber = p.next + 1;
        const std::string raw = trim(p.lines[p.next++]);
        if (raw.empty() || raw[0] == '#') continue;
        auto w = words(raw);
        if (w.empty()) continue;
        const std::string& cmd = w[0];
        auto done = [] {
            ++player().delivered;
            continueLater();
        };
        double a = 0, b = 0, c = 0, d = 0;
        if (cmd == "wait") {
            if (w.size() != 2 || !number(w[1], a) || a < 0) {
                skip(lineNumber, "expected wait SECONDS", raw);
                continue;
            }
            ++p.delivered;
            continueLater(a);
            return;
        }
        if (cmd == "accel" || cmd == "shake") {
            if (cmd == "shake" ? w.size() != 1
                               : (w.size() != 4 || !number(w[1], a) || !number(w[2], b) || !number(w[3], c))) {
                skip(lineNumber, cmd == "shake" ? "shake takes no arguments" : "expected accel X Y Z", raw);
                continue;
            }
            if (cmd == "shake") a = 3.0, b = 0.0, c = 0.0;
            // The next line runs after every handler took the sample (and queued what it does).
            MotionManager::injectAccelerometerSample(a, b, c, [done] { platform::RunLoop::main().perform(done); });
            return;
        }
        if (cmd == "tap" || cmd == "doubletap") {
            if (w.size() != 3 || !number(w[1], a) || !number(w[2], b)) {
                skip(lineNumber, "expected " + cmd + " X Y", raw);
                continue;
            }
            if (cmd == "tap") {
                tapAt(a, b, 1, done);
            } else {
                tapAt(a, b, 1, [a, b, done] {
                    platform::RunLoop::main().performAfter(0.07, [a, b, done] { tapAt(a, b, 2, done); });
                });
            }
            return;
        }
        if (cmd == "drag") {
            double steps = 10, seconds = 0.3;
            bool ok = (w.size() >= 5 && w.size() <= 7) && number(w[1], a) && number(w[2], b) && number(w[3], c) &&
                      number(w[4], d) && (w.size() < 6 || (number(w[5], steps) && steps >= 1 && steps <= 10000 &&
                                                           steps == std::floor(steps))) &&
                      (w.size() < 7 || (number(w[6], seconds) && seconds >= 0));
            if (!ok) {
                skip(lineNumber, "expected drag X1 Y1 X2 Y2 [STEPS] [SECONDS]", raw);
                continue;
            }
            input::drag({{{a, b}, {c, d}}}, static_cast<int>(steps), seconds, done);
            return;
        }
        if (cmd == "swipe") {
            double touches = 3;
            static const std::map<std::string, Point> kDirections{
                {"up", {0, -1}}, {"down", {0, 1}}, {"left", {-1, 0}}, {"right", {1, 0}}};
            auto dir = w.size() >= 2 ? kDirections.find(w[1]) : kDirections.end();
            bool ok = dir != kDirections.end() && w.size() <= 3 &&
                      (w.size() < 3 || (number(w[2], touches) && touches >= 1 && touches <= 10 &&
                                        touches == std::floor(touches)));
            if (!ok || !input::swipe(dir->second, static_cast<int>(touches), done)) {
                skip(lineNumber, ok ? "no key window" : "expected swipe up|down|left|right [TOUCHES]", raw);
                continue;
            }
            return;
        }
        if (cmd == "type") {
            std::size_t at = raw.find_first_of(" \t");
            if (at == std::string::npos) {
                skip(lineNumber, "expected type TEXT", raw);
                continue;
            }
            std::string text = raw.substr(raw.find_first_not_of(" \t", at));
            if (!input::hasFirstResponder()) {
                skip(lineNumber, "no first responder takes the text", raw);
                continue;
            }
            input::typeText(text);
            done();
            return;
        }
        if (cmd == "key") {
            static const std::pair<const char*, ArrowKey> kArrows[] = {
                {"left", ArrowKey::Left}, {"right", ArrowKey::Right}, {"up", ArrowKey::Up}, {"down", ArrowKey::Down}};
            const auto arrow = std::find_if(std::begin(kArrows), std::end(kArrows),
                                            [&](const auto& k) { return w.size() == 2 && w[1] == k.first; });
            if (w.size() != 2 || (w[1] != "return" && w[1] != "backspace" && arrow == std::end(kArrows))) {
                skip(lineNumber, "expected key return|backspace|left|right|up|down", raw);
                continue;
            }
            if (!input::hasFirstResponder()) {
                skip(lineNumber, "no first responder takes the key", raw);
                continue;
            }
            if (w[1] == "return") {
                input::pressReturn();
            } else if (w[1] == "backspace") {
                input::pressBackspace();
            } else {
                input::pressArrow(arrow->second);
            }
            done();
            return;
        }
        if (cmd == "alert") {
            auto alert = AlertView::visibleAlert();
            if (w.size() != 2 || !number(w[1], a) || a != std::floor(a)) {
                skip(lineNumber, "expected alert N", raw);
                continue;
            }
            if (!alert || !alert->pressButton(static_cast<std::int64_t>(a))) {
                skip(lineNumber, alert ? "the alert has no such button" : "no alert on screen", raw);
                continue;
            }
            done();
            return;
        }
        if (cmd == "background" || cmd == "foreground") {
            if (w.size() != 1) {
                skip(lineNumber, cmd + " takes no arguments", raw);
                continue;
            }
            if (cmd == "background") {
                Application::shared().enterBackground();
            } else {
                Application::shared().enterForeground();
            }
            done();
            return;
        }
        if (cmd == "snapshot") {
            std::size_t at = raw.find_first_of(" \t");
            auto key = Application::shared().keyWindow();
            if (at == std::string::npos || !key) {
                skip(lineNumber, key ? "expected snapshot PATH" : "no key window", raw);
                continue;
            }
            std::string path = trim(raw.substr(at));
            auto image = keyWindowPicture(*key);
            if (!image || !writePNG(*image, path)) {
                skip(lineNumber, "cannot write the snapshot", raw);
                continue;
            }
            done();
            return;
        }
        skip(lineNumber, "unknown command", raw);
    }
    finish();
}

}  // namespace

bool EventScript::play(const std::string& text, const std::string& name, std::function<void()> finished) {
    Player& p = player();
    if (p.playing) return false;
    p = Player{};
    p.name = name;
    p.finished = std::move(finished);
    p.playing = true;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) p.lines.push_back(line);
    continueLater();
    return true;
}

bool EventScript::playFile(const std::string& path, std::function<void()> finished) {
    std::ifstream in(path);
    if (!in) {
        platform::logf("QUILLON_UI_SCRIPT %s: cannot be read", path.c_str());
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return play(text.str(), path, std::move(finished));
}

bool EventScript::isPlaying() { return player().playing; }
int EventScript::commandsDelivered() { return player().delivered; }
int EventScript::linesSkipped() { return player().skipped; }

// Started once, when the first key window becomes visible.
void startEventScriptIfAsked() {
    static bool started = false;
    if (started) return;
    started = true;
    const char* path = std::getenv("QUILLON_UI_SCRIPT");
    if (!path || !*path) return;
    MotionManager::setSimulated(true);
    std::string file = path;
    platform::RunLoop::main().perform([file] {
        EventScript::playFile(file, [file] { platform::logf("QUILLON_UI_SCRIPT %s: finished", file.c_str()); });
    });
}

}  // namespace quillon::ui
