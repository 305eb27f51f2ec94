// The drawing surface of the edit screen: the screenshot as background, and what one finger
// draws over it kept as compact tracks of 16-bit coordinates (pen strokes, and mosaic stamps
// in a second mode). The tracks are the record; the drawing keeps a layer that each new point
// is added to, and replays the tracks into it on resize, reset and first display.
#pragma once

#include <quillon/ui.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class WrenUISnapshotEditor;

class WrenUISnapshotEditorDelegate {
public:
    virtual ~WrenUISnapshotEditorDelegate() = default;
    // A finger moved and a point was recorded (sent on every such move).
    virtual void snapshotEditorDidBeginEdit(WrenUISnapshotEditor* editor) {}
    // A stroke was closed after the finger was lifted.
    virtual void snapshotEditorDidEndEdit(WrenUISnapshotEditor* editor) {}
    // A touch ended as the second tap of a double tap.
    virtual void snapshotEditorDoubleClick(WrenUISnapshotEditor* editor) {}
};

// A new image of the given size in points (at the screen's scale) with the image drawn
// stretched into it; the aspect ratio is not kept.
std::shared_ptr<quillon::ui::Image> QNCGContextResizeImage(const std::shared_ptr<quillon::ui::Image>& image,
                                                          double width, double height);

class WrenUISnapshotEditor : public quillon::ui::View {
public:
    // Track format: (x, y) pairs of 16-bit entries; (65535, 0) closes a stroke, and
    // (65535, 65535) right after it ends the track when reading.
    static constexpr std::uint16_t kPenUp = 65535;
    static constexpr std::size_t kTrackCapacity = 2097152;     // entries per track
    static constexpr std::uint32_t kTrackLimit = 1048570;      // moves are ignored from here on
    static constexpr double kTimerInterval = 0.2;
    static constexpr double kDefaultLineWidth = 3.0;
    static constexpr double kDoubleTapTolerance = 10.0;
    static constexpr double kMosaicStampSize = 20.0;

    static std::shared_ptr<WrenUISnapshotEditor> defaultSnapshotEditor(const quillon::ui::Rect& frame);
    explicit WrenUISnapshotEditor(const quillon::ui::Rect& frame);
    ~WrenUISnapshotEditor() override;

    void setDelegate(WrenUISnapshotEditorDelegate* delegate) { delegate_ = delegate; }
    WrenUISnapshotEditorDelegate* delegate() const { return delegate_; }
    double lineWidth() const { return lineWidth_; }
    void setLineWidth(double width);
    quillon::ui::Color lineColor() const { return lineColor_; }
    void setLineColor(const quillon::ui::Color& color);
    // The stamp the mosaic mode draws (20 x 20 points at every recorded point).
    std::shared_ptr<quillon::ui::Image> mosaicImage() const { return mosaicImage_; }
    void setMosaicImage(std::shared_ptr<quillon::ui::Image> image);
    // 0 pen, 1 mosaic.
    std::int32_t penStyle() const { return penStyle_; }
    void setPenStyle(std::int32_t style) { penStyle_ = style; }

    void show();
    void hide();
    // Keeps the screenshot and shows it stretched to the bounds as the background.
    void setBackgroundImage(std::shared_ptr<quillon::ui::Image> image);
    std::shared_ptr<quillon::ui::Image> backgroundImage() const { return backgroundImage_; }
    // Empties both tracks, restores width 3.0, blue and the pen; pending timers still fire.
    void reset();
    // Adapts to a new container size; a portrait screenshot in a landscape container takes a
    // third of the width (and a landscape one a third of the height in portrait).
    void updateForSize(const quillon::ui::Size& size);

    // A pixelated copy of the background, for use as the mosaic stamp.
    static std::shared_ptr<quillon::ui::Image> mosaicImageFromImage(const std::shared_ptr<quillon::ui::Image>& image,
                                                                   double blockPoints = 8.0);

    // The tracks as recorded (entries in use only).
    std::vector<std::uint16_t> penTrack() const;
    std::vector<std::uint16_t> mosaicTrack() const;
    std::uint32_t trackTotal() const { return trackTotal_; }
    std::uint32_t mosaicTrackTotal() const { return mosaicTrackTotal_; }
    // How a coordinate is stored: truncated toward zero; negative values as their 16-bit
    // two's complement (read back signed), clamped to -32768...32767. An x of -1 is stored as
    // -2 so that no point is ever taken for a pen-up or end marker.
    static std::uint16_t encodeCoordinate(double value, bool isX);
    static double decodeCoordinate(std::uint16_t entry) { return static_cast<std::int16_t>(entry); }

    void drawRect(const quillon::ui::Rect& rect) override;
    void touchesBegan(const quillon::ui::TouchSet& touches, const quillon::ui::Event& event) override;
    void touchesMoved(const quillon::ui::TouchSet& touches, const quillon::ui::Event& event) override;
    void touchesEnded(const quillon::ui::TouchSet& touches, const quillon::ui::Event& event) override;
    // Replays every stroke on the next display pass instead of adding the newest points.
    void invalidateLayer();

private:
    // Where the layer's drawing of a track stands: entries before `next` are drawn, and the
    // pen rests at `last` when a stroke is open.
    struct TrackCursor {
        std::uint32_t next = 0;
        bool penDown = false;
        quillon::ui::Point last{};
    };
    struct Layer;

    void setStrokeStyle(quillon::ui::GraphicsContext& context);
    void drawTouchTracks(quillon::ui::GraphicsContext& context);
    void drawTouchTracks(quillon::ui::GraphicsContext& context, const std::uint16_t* points, std::uint32_t total,
                         const quillon::ui::Image* image, TrackCursor& cursor);
    void appendPenUp();
    // The dirty rectangle of the entries recorded since the last display pass.
    void setNeedsDisplayForNewEntries();
    void saveToucheTrack(const quillon::ui::Point& point);
    void setToucheDownTimer();
    void onToucheDownAction();
    void killToucheDownTimer();
    void setToucheEndTimer();
    void onToucheEndAction();
    void killToucheEndTimer();

    WrenUISnapshotEditorDelegate* delegate_ = nullptr;
    std::uint32_t trackTotal_ = 0;
    std::unique_ptr<std::uint16_t[]> trackData_;
    std::uint32_t mosaicTrackTotal_ = 0;
    std::unique_ptr<std::uint16_t[]> mosaicTrackData_;
    std::shared_ptr<quillon::ui::Timer> toucheDownTimer_;
    std::shared_ptr<quillon::ui::Timer> toucheEndTimer_;
    quillon::ui::Point currentTouchesPoint_{};
    std::shared_ptr<quillon::ui::Image> backgroundImage_;
    bool end_ = true;
    bool touchEnd_ = false;
    std::int32_t penStyle_ = 0;
    double lineWidth_ = kDefaultLineWidth;
    quillon::ui::Color lineColor_;
    std::shared_ptr<quillon::ui::Image> mosaicImage_;

    std::unique_ptr<Layer> layer_;
    bool layerValid_ = false;
    TrackCursor penCursor_;
    TrackCursor mosaicCursor_;
    // Entries already covered by a dirty rectangle.
    std::uint32_t penDirty_ = 0;
    std::uint32_t mosaicDirty_ = 0;
};
