/* quillon-example-sdl2: an SDL2 application that reports its crashes.
 *
 *   quillon-example-sdl2          a window; press C to crash, Escape or close to quit
 *   quillon-example-sdl2 crash    crashes by itself after half a second
 *
 * The library's main-thread work runs from the application's own loop: each frame, when the
 * library's descriptor is readable, QNMainLoopRunPending() runs it. */
#include <quillon/quillon.h>

#include <SDL.h>
#include <poll.h>
#include <string.h>

struct sprite {
    SDL_Rect rect;
    int speed;
};

struct sprite* volatile player = NULL; /* not spawned yet */

/* Not static: exported functions appear by name in the crash report's backtrace. */
__attribute__((noinline)) void example_move_player(int dx) {
    player->rect.x += dx * player->speed; /* no player: SIGSEGV */
}

static void run_library_work(void) {
    struct pollfd p = {QNMainLoopFileDescriptor(), POLLIN, 0};
    if (poll(&p, 1, 0) > 0) QNMainLoopRunPending();
}

int main(int argc, char** argv) {
    const int crash_by_itself = argc > 1 && strcmp(argv[1], "crash") == 0;
    quillonInit("example-app-key", "examples");
    quillonLeaveBreadcrumb("starting SDL");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        SDL_Log("SDL_Init: %s", SDL_GetError());
        return 1;
    }
    SDL_Window* window = SDL_CreateWindow("Quillon SDL2 example (C crashes)", SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, 480, 320, 0);
    if (!window) {
        SDL_Log("SDL_CreateWindow: %s", SDL_GetError());
        return 1;
    }
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    const Uint32 start = SDL_GetTicks();
    int running = 1;
    while (running) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) running = 0;
            if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) running = 0;
            if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_c) {
                quillonLeaveBreadcrumb("pressed C");
                example_move_player(1);
            }
        }
        if (crash_by_itself && SDL_GetTicks() - start > 500) {
            quillonLeaveBreadcrumb("moving the player");
            example_move_player(1);
        }
        run_library_work();
        if (renderer) {
            SDL_SetRenderDrawColor(renderer, 30, 30, 40, 255);
            SDL_RenderClear(renderer);
            SDL_RenderPresent(renderer);
        }
        SDL_Delay(16);
    }
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
