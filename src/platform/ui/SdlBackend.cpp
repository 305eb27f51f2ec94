// The SDL2 window: shows the screen's picture scaled to the window and turns the window's
// input into the screen's: the mouse is one finger, touchscreen fingers are touches,
// keyboard text goes to the first responder, Return and Backspace are the keys of the same
// name, and Ctrl+Shift+Z is a shake (one accelerometer sample of 3 g). Minimising the window
// sends the application to the background; restoring it brings it back.
#include "platform/runtime/RunLoop.h"
#include "platform/ui/Backend.h"
#include "quillon/ui/Application.h"
#include "quillon/ui/EventScript.h"
#include "quillon/ui/MotionManager.h"
#include "quillon/ui/Timer.h"

#include <SDL.h>

#include <cstdlib>

namespace quillon::ui::detail {

namespace {

constexpr int kMouseFinger = 100;

int fingerOf(SDL_FingerID id) { return 200 + static_cast<int>(static_cast<unsigned long long>(id) % 1000); }

class SdlBackend final : public Backend {
public:
    SdlBackend(SDL_Window* window, SDL_Renderer* renderer, Size points)
        : window_(window), renderer_(renderer), points_(points) {
        SDL_StartTextInput();
        poll_ = Timer::scheduledTimer(1.0 / 60, true, [this](Timer&) { pump(); });
    }

    ~SdlBackend() override {
        if (poll_) poll_->invalidate();
        if (texture_) SDL_DestroyTexture(texture_);
        SDL_DestroyRenderer(renderer_);
        SDL_DestroyWindow(window_);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    const char* name() const override { return "sdl"; }

    void present(cairo_surface_t* screen) override {
        int w = cairo_image_surface_get_width(screen), h = cairo_image_surface_get_height(screen);
        if (!texture_ || w != textureW_ || h != textureH_) {
            if (texture_) SDL_DestroyTexture(texture_);
            // Cairo's ARGB32 is SDL's ARGB8888 (native-endian 32-bit pixels).
            texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w, h);
            textureW_ = w, textureH_ = h;
            if (texture_) SDL_SetTextureScaleMode(texture_, SDL_ScaleModeLinear);
        }
        if (!texture_) return;
        SDL_UpdateTexture(texture_, nullptr, cairo_image_surface_get_data(screen), cairo_image_surface_get_stride(screen));
        SDL_RenderClear(renderer_);
        SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
        SDL_RenderPresent(renderer_);
    }

private:
    // Window pixels to screen points (the window may have been resized).
    Point toPoints(int x, int y) const {
        int w = 1, h = 1;
        SDL_GetWindowSize(window_, &w, &h);
        return {x * points_.width / std::max(w, 1), y * points_.height / std::max(h, 1)};
    }

    void pump() {
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
            switch (e.type) {
                case SDL_QUIT: platform::RunLoop::main().stop(); break;
                case SDL_MOUSEBUTTONDOWN:
                    if (e.button.which != SDL_TOUCH_MOUSEID && e.button.button == SDL_BUTTON_LEFT) {
                        Point p = toPoints(e.button.x, e.button.y);
                        input::touchDown(kMouseFinger, p.x, p.y, std::max<int>(1, e.button.clicks));
                        mouseDown_ = true;
                    }
                    break;
                case SDL_MOUSEMOTION:
                    if (mouseDown_ && e.motion.which != SDL_TOUCH_MOUSEID) {
                        Point p = toPoints(e.motion.x, e.motion.y);
                        input::touchMove(kMouseFinger, p.x, p.y);
                    }
                    break;
                case SDL_MOUSEBUTTONUP:
                    if (mouseDown_ && e.button.which != SDL_TOUCH_MOUSEID && e.button.button == SDL_BUTTON_LEFT) {
                        Point p = toPoints(e.button.x, e.button.y);
                        input::touchUp(kMouseFinger, p.x, p.y);
                        mouseDown_ = false;
                    }
                    break;
                case SDL_FINGERDOWN:
                case SDL_FINGERMOTION:
                case SDL_FINGERUP: {
                    double x = e.tfinger.x * points_.width, y = e.tfinger.y * points_.height;
                    int finger = fingerOf(e.tfinger.fingerId);
                    if (e.type == SDL_FINGERDOWN) input::touchDown(finger, x, y, 1);
                    if (e.type == SDL_FINGERMOTION) input::touchMove(finger, x, y);
                    if (e.type == SDL_FINGERUP) input::touchUp(finger, x, y);
                    break;
                }
                case SDL_TEXTINPUT: input::typeText(e.text.text); break;
                case SDL_KEYDOWN: {
                    SDL_Keycode key = e.key.keysym.sym;
                    Uint16 mod = e.key.keysym.mod;
                    if (key == SDLK_z && (mod & KMOD_CTRL) && (mod & KMOD_SHIFT)) {
                        MotionManager::injectAccelerometerSample(3.0, 0.0, 0.0);
                    } else if (key == SDLK_RETURN || key == SDLK_KP_ENTER) {
                        input::pressReturn();
                    } else if (key == SDLK_BACKSPACE) {
                        input::pressBackspace();
                    } else if (key == SDLK_LEFT || key == SDLK_RIGHT || key == SDLK_UP || key == SDLK_DOWN) {
                        input::pressArrow(key == SDLK_LEFT    ? ArrowKey::Left
                                          : key == SDLK_RIGHT ? ArrowKey::Right
                                          : key == SDLK_UP    ? ArrowKey::Up
                                                              : ArrowKey::Down);
                    }
                    break;
                }
                case SDL_WINDOWEVENT:
                    if (e.window.event == SDL_WINDOWEVENT_MINIMIZED) Application::shared().enterBackground();
                    if (e.window.event == SDL_WINDOWEVENT_RESTORED) Application::shared().enterForeground();
                    break;
                default: break;
            }
        }
    }

    SDL_Window* window_;
    SDL_Renderer* renderer_;
    SDL_Texture* texture_ = nullptr;
    int textureW_ = 0, textureH_ = 0;
    Size points_;
    bool mouseDown_ = false;
    std::shared_ptr<Timer> poll_;
};

}  // namespace

std::unique_ptr<Backend> makeSdlBackend(Size points, double scale, std::string& why) {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x11 || !*x11) && (!wayland || !*wayland)) {
        why = "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
        return nullptr;
    }
    // The library's own signal handlers stay in charge.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        why = SDL_GetError();
        return nullptr;
    }
    SDL_Window* window = SDL_CreateWindow("quillon", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          static_cast<int>(points.width), static_cast<int>(points.height),
                                          SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    if (!window) {
        why = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    }
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, 0);
    if (!renderer) {
        why = SDL_GetError();
        SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    }
    return std::make_unique<SdlBackend>(window, renderer, points);
}

}  // namespace quillon::ui::detail
