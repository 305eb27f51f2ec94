// The toolkit's costs on the feedback path: the snapshot of a full-screen view tree (20
// views, text and an image) at 750 x 1334 pixels, its JPEG at quality 0.1, and decoding a
// 30-frame 200 x 200 animated GIF. Baselines beside them: one full-screen blit (the floor of
// any snapshot), libjpeg-turbo encoding the same pixels from plain RGB, and giflib reading
// the same GIF without compositing frames.

#include <quillon/ui.h>

#include <benchmark/benchmark.h>
#include <cairo.h>
#include <gif_lib.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace quillon::ui;

namespace {

std::shared_ptr<View> screenTree() {
    static std::shared_ptr<View> root = [] {
        auto root = std::make_shared<View>(Rect(0, 0, 375, 667));
        root->setBackgroundColor(Color::whiteColor());
        auto bar = std::make_shared<View>(Rect(0, 0, 375, 64));
        bar->setBackgroundColor(Color(0.97, 0.97, 0.97, 1));
        root->addSubview(bar);
        auto title = std::make_shared<Label>(Rect(0, 20, 375, 44));
        title->setText("账本 Ledger");
        title->setFont(Font::boldSystemFontOfSize(17));
        title->setTextAlignment(TextAlignment::Center);
        root->addSubview(title);
        ImageContext photo(Size{335, 180}, true, 0);
        for (int i = 0; i < 12; ++i) {
            photo.context().setFillColor(Color(i / 12.0, 0.4, 1 - i / 12.0, 1));
            photo.context().fillEllipseInRect(Rect(i * 25, (i % 3) * 50, 90, 90));
        }
        auto image = std::make_shared<ImageView>(photo.image());
        image->setFrame(Rect(20, 80, 335, 180));
        root->addSubview(image);
        for (int i = 0; i < 7; ++i) {
            auto row = std::make_shared<Label>(Rect(20, 280 + i * 40, 240, 36));
            row->setText(std::string(i % 2 ? "午餐 Lunch " : "Coffee 咖啡 ") + std::to_string(10 + i) + ".50");
            root->addSubview(row);
            auto amount = std::make_shared<View>(Rect(300, 290 + i * 40, 55, 16));
            amount->setBackgroundColor(Color(0.2, 0.6, 0.3, 1));
            amount->setCornerRadius(8);
            root->addSubview(amount);
        }
        for (int i = 0; i < 3; ++i) {
            auto button = std::make_shared<Button>(Rect(20 + i * 115, 600, 105, 44));
            button->setTitle(i == 0 ? "添加" : i == 1 ? "统计" : "设置");
            button->setBackgroundColor(Color(0.93, 0.93, 0.95, 1));
            button->setCornerRadius(10);
            root->addSubview(button);
        }
        return root;
    }();
    return root;
}

std::shared_ptr<Image> snapshot(View& view) {
    ImageContext context(view.bounds().size, view.isOpaque(), 0);
    view.renderInContext(context.context());
    return context.image();
}

void BM_Snapshot20Views(benchmark::State& state) {
    auto root = screenTree();
    std::size_t views = 1;
    for (auto& s : root->subviews()) views += 1 + s->subviews().size();
    snapshot(*root);  // content drawn once, as the display pass has done for a screen on view
    for (auto _ : state) benchmark::DoNotOptimize(snapshot(*root));
    state.counters["views"] = static_cast<double>(views);
}

void BM_Baseline_FullScreenBlit(benchmark::State& state) {
    auto source = snapshot(*screenTree());
    for (auto _ : state) {
        ImageContext context(Size{375, 667}, true, 0);
        context.context().drawImage(*source, Rect(0, 0, 375, 667));
        benchmark::DoNotOptimize(context.image());
    }
}

void BM_JpegQuality01(benchmark::State& state) {
    auto image = snapshot(*screenTree());
    std::size_t size = 0;
    for (auto _ : state) size = encodeJPEG(*image, 0.1).size();
    state.counters["jpeg_KB"] = size / 1024.0;
}

void BM_Baseline_LibjpegFromRgb(benchmark::State& state) {
    auto image = snapshot(*screenTree());
    int w = image->pixelWidth(), h = image->pixelHeight();
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned char* p = image->bytes() + y * image->stride() + x * 4;
            unsigned char* q = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            q[0] = p[2], q[1] = p[1], q[2] = p[0];
        }
    for (auto _ : state) {
        jpeg_compress_struct info;
        jpeg_error_mgr err;
        info.err = jpeg_std_error(&err);
        jpeg_create_compress(&info);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&info, &out, &size);
        info.image_width = w, info.image_height = h, info.input_components = 3, info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, 10, TRUE);
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = &rgb[static_cast<size_t>(info.next_scanline) * w * 3];
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        std::free(out);
    }
}

int writeBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

// 30 frames of 200 x 200: a full first frame, then a moving 60 x 60 square over it.
const Bytes& animation() {
    static Bytes out = [] {
        Bytes bytes;
        int error = 0;
        GifFileType* gif = EGifOpen(&bytes, writeBytes, &error);
        GifColorType colors[16];
        for (int i = 0; i < 16; ++i) colors[i] = {GifByteType(i * 16), GifByteType(255 - i * 16), GifByteType(128)};
        ColorMapObject* map = GifMakeMapObject(16, colors);
        EGifSetGifVersion(gif, true);
        EGifPutScreenDesc(gif, 200, 200, 4, 0, map);
        std::vector<GifByteType> line(200);
        for (int f = 0; f < 30; ++f) {
            GraphicsControlBlock gcb{f % 2 ? DISPOSE_BACKGROUND : DISPOSE_DO_NOT, false, 4, f ? 0 : NO_TRANSPARENT_COLOR};
            GifByteType ext[4];
            EGifGCBToExtension(&gcb, ext);
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
            int size = f == 0 ? 200 : 60, at = f == 0 ? 0 : f * 4;
            EGifPutImageDesc(gif, at, at, size, size, false, nullptr);
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) line[x] = static_cast<GifByteType>(1 + (x / 8 + y / 8 + f) % 15);
                EGifPutLine(gif, line.data(), size);
            }
        }
        EGifCloseFile(gif, &error);
        GifFreeMapObject(map);
        return bytes;
    }();
    return out;
}

void BM_GifDecode30Frames(benchmark::State& state) {
    for (auto _ : state) {
        auto source = ImageSource::createWithData(animation());
        if (!source || source->count() != 30) state.SkipWithError("decode failed");
        // Frames are composited when asked for: ask for every one, as a player does.
        for (std::size_t i = 0; source && i < source->count(); ++i) benchmark::DoNotOptimize(source->createImageAtIndex(i));
    }
    state.counters["gif_KB"] = animation().size() / 1024.0;
}

int readBytes(GifFileType* gif, GifByteType* out, int length) {
    auto* r = static_cast<std::pair<const Bytes*, size_t>*>(gif->UserData);
    int n = std::min<int>(length, static_cast<int>(r->first->size() - r->second));
    std::memcpy(out, r->first->data() + r->second, static_cast<size_t>(n));
    r->second += static_cast<size_t>(n);
    return n;
}

void BM_Baseline_GiflibSlurp(benchmark::State& state) {
    for (auto _ : state) {
        std::pair<const Bytes*, size_t> reader{&animation(), 0};
        int error = 0;
        GifFileType* gif = DGifOpen(&reader, readBytes, &error);
        DGifSlurp(gif);
        benchmark::DoNotOptimize(gif->ImageCount);
        DGifCloseFile(gif, &error);
    }
}

}  // namespace

BENCHMARK(BM_Baseline_FullScreenBlit)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_Snapshot20Views)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_Baseline_LibjpegFromRgb)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_JpegQuality01)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_Baseline_GiflibSlurp)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_GifDecode30Frames)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

BENCHMARK_MAIN();
