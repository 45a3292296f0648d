#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace gtk {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The window style bits the rest of the program speaks in.
enum StyleMask : std::uint64_t {
    Titled = 1,
    Closable = 2,
    Miniaturizable = 4,
    Resizable = 8,
    // The content covers the whole frame, title bar included (windows without a title bar).
    FullSizeContentView = 0x8000,
};

// A top-level window whose content can be covered by an overlay (the translucent cover
// over an opener while a modal window is open). Main thread only.
class Window {
public:
    Window(Rect content, std::uint64_t styleMask);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    GtkWindow* gtkWindow() const { return window_; }

    void setContent(GtkWidget* content);
    // Puts a menu bar above the content (once).
    void setMenuBar(GtkWidget* menuBar);
    // Lays a widget over the content, or takes the top one away again.
    void addCover(GtkWidget* cover);
    bool removeCover();
    bool hasCover() const;
    // Puts a widget on the window's frame (its own buttons): over the content, under any
    // cover added later, and never taken for a cover.
    void addToFrame(GtkWidget* widget);

    void setTitle(const std::string& title);
    std::string title() const;
    std::uint64_t styleMask() const { return styleMask_; }
    void setStyleMask(std::uint64_t mask);
    bool isBorderless() const { return borderless_; }
    // Height of the title bar, for a window without decorations drawn by the system.
    void setTitleHeight(unsigned height) { titleHeight_ = height; }
    unsigned titleHeight() const { return titleHeight_; }

    // The window's place and size on the screen, top-left origin. A frame just set counts
    // until the window system has applied it.
    Rect frame() const;
    void setFrame(Rect frame);
    // One window for the whole process: made by the first call (without title bar or size)
    // and never released.
    static std::shared_ptr<Window> instance();
    // The wrapper of a GTK window made by this class, or null.
    static Window* fromGtkWindow(GtkWindow* window);

    // Window levels: 0 normal, above 0 kept above other windows. A locked level ignores
    // every change.
    void setLevel(int level);
    int level() const { return level_; }
    void setIsLevelLocked(bool locked) { levelLocked_ = locked; }
    bool getIsLevelLocked() const { return levelLocked_; }

    // Puts the window in the middle of the main screen, its size unchanged.
    void centerToScreen();
    // Where centerToScreen puts a frame on a screen: the left and top margins are halves of
    // what the screen leaves over, each taken in single precision.
    static Rect centeredFrame(Rect frame, Rect screen);
    // Height of the title bar the window system draws above the content: the frame's height
    // with decorations less the content's; 0 while the window is not on the screen.
    float titleBarHeight() const;

    // Fills the screen's work area, or goes back to the frame it had before.
    void zoom();
    bool isZoomed() const { return zoomedFrom_.has_value(); }

    void show();
    // Shows the window in front of the others, with the focus.
    void present();
    // Asks to close (through shouldClose) as the close button does.
    void performClose();
    // Closes without asking.
    void close();
    bool isVisible() const;
    bool isClosed() const { return closed_; }

    // Asked before the window closes; no answer closes it.
    std::function<bool()> shouldClose;
    // Told once, as the window goes.
    std::function<void()> willClose;

private:
    GtkWindow* window_;
    GtkWidget* overlay_;
    std::uint64_t styleMask_;
    bool borderless_;
    unsigned titleHeight_ = 0;
    bool closed_ = false;
    int level_ = 0;
    bool levelLocked_ = false;
    std::optional<Rect> zoomedFrom_;
    std::optional<Rect> requestedFrame_;
};

}  // namespace gtk
