#pragma once

#include <cstdint>
#include <memory>

#include "platform/gtk/Window.h"

namespace webkit {
class WebView;
}

// Moves a window without a title bar by the page's own title area: a press in the top
// `titleHeight` points starts a drag (not within 4 points of the left, right and top
// edges, nor on an element of class "w2ui-resizer"), the window follows the pointer but
// never rises above the screen's top, and a double click there zooms it. With a title
// height of 0 any press outside the edge band drags. The page sees every press too.
// Main thread.
class BorderlessWindow : public std::enable_shared_from_this<BorderlessWindow> {
public:
    static constexpr double kEdgeBand = 4;
    static constexpr double kDragMargin = 10;
    static constexpr const char* kResizerClass = "w2ui-resizer";

    // A point in window coordinates with the origin at the bottom left, y growing upwards.
    struct Point {
        double x = 0;
        double y = 0;
    };
    // Ignore: in the edge band; Stay: below the title area, written to the log only.
    enum class Press { Ignore, Stay, Drag, AskPage };

    // What a left press at p does, in a window of width W and height H.
    static Press pressDecision(Point p, double width, double height, unsigned titleHeight);
    // Whether a drag event at p moves the window.
    static bool dragMoves(Point p, double width, double height, unsigned titleHeight);
    static bool doubleClickZooms(int clickCount, Point p, double height, unsigned titleHeight);
    // The window's new top-left corner for the pointer at (rootX, rootY) that pressed at
    // (pressX, pressY) of the window (top-left origin): the top stays at or below screenTop.
    static gtk::Rect draggedFrame(gtk::Rect frame, double rootX, double rootY, double pressX,
                                  double pressY, int screenTop);

    // Follows the window's presses (before the page gets them) for as long as both live.
    static std::shared_ptr<BorderlessWindow> attach(const std::shared_ptr<gtk::Window>& window,
                                                    const std::shared_ptr<webkit::WebView>& view);

    // The events, in window coordinates with the origin at the top left.
    void mouseDown(double x, double y);
    void mouseDragged(double x, double y, double rootX, double rootY);
    void mouseUp(double x, double y, int clickCount);
    bool isDragging() const { return _dragging; }
    // Where the press that started the drag hit the window (top-left origin).
    Point initialLocation() const { return _initialLocation; }
    void setInitialLocation(Point location) { _initialLocation = location; }

    // Puts small close, miniaturize and zoom buttons at the top left of the window's frame
    // (zoom disabled), where they stay when the window is resized. Named "close",
    // "miniaturize" and "zoom".
    void setupButtons();

private:
    BorderlessWindow(std::weak_ptr<gtk::Window> window, std::weak_ptr<webkit::WebView> view)
        : window_(std::move(window)), view_(std::move(view)) {}
    void installGestures();
    Point bottomLeft(double x, double y) const;
    void startDrag(double x, double y);
    // What a press in the title area finds, for the log: the window and the view's frames.
    static void logPressInTitleArea(const gtk::Rect& frame, webkit::WebView* view);

    std::weak_ptr<gtk::Window> window_;
    std::weak_ptr<webkit::WebView> view_;
    bool _dragging = false;
    Point _initialLocation;       // top-left origin
    std::uint64_t pressSerial_ = 0;  // a page answer for an older press is dropped
};
