#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <fstream>

#include "DialogAnswerer.h"
#include "WebWindowFixture.h"
#include "foundation/ScratchFolder.h"
#include "platform/gtk/Alert.h"
#include "platform/gtk/Screen.h"
#include "LogCapture.h"
#include "shell/windows/BorderlessWindow.h"
#include "shell/windows/ElementAtPoint.h"
#include "shell/windows/AlertWebviewPanels.h"
#include "shell/windows/WebviewDelegate.h"

using apptest::OpenedWindows;
using apptest::WebWindowTest;
using foundation::Value;

namespace {

// Panels answered by the test, remembering what they were asked.
class ScriptedPanels : public WebviewPanels {
public:
    void alert(GtkWindow*, const std::string& message, std::function<void()> done) override {
        asked.push_back("alert " + message);
        done();
    }
    void confirm(GtkWindow*, const std::string& message, std::function<void(bool)> done) override {
        asked.push_back("confirm " + message);
        done(confirmAnswer);
    }
    void prompt(GtkWindow*, const std::string& message, const std::string& defaultText,
                std::function<void(std::optional<std::string>)> done) override {
        asked.push_back("prompt " + message + " [" + defaultText + "]");
        done(promptAnswer);
    }
    void openFiles(GtkWindow*, bool multiple,
                   std::function<void(std::optional<std::vector<std::string>>)> done) override {
        asked.push_back(multiple ? "files" : "file");
        done(files);
    }
    std::vector<std::string> asked;
    std::optional<std::vector<std::string>> files;
    bool confirmAnswer = false;
    std::optional<std::string> promptAnswer;
};

// The web window the main page opens with the script, once its page is up.
WVWindowController* openFromPage(WVWindowController& main, const std::string& script) {
    OpenedWindows opened;
    WebWindowTest::eval(*main.webview(), script + "; 0");
    // The opener's own page may report ready again meanwhile.
    auto other = [&] {
        for (auto* controller : opened.all)
            if (controller != &main) return controller;
        return static_cast<WVWindowController*>(nullptr);
    };
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return other() != nullptr; }));
    return other();
}

TEST_F(WebWindowTest, WindowOpenPlacesShowsAndAttachesNewWindows) {
    auto main = openWindow({0, 0, 500, 400});
    const struct {
        const char* script;
        gtk::Rect frame;
        std::uint64_t mask;
        bool modal, attached, covered;
    } cases[] = {
        {"window.open('child.html')", {0, 0, 400, 300}, 7, false, false, false},
        {"window.open('child.html', 'x', 'left=100, top=150,width=520,height=310,resizable')",
         {100, 150, 520, 310}, 15, false, false, false},
        {"window.open('child.html?titled=0&name=bare', '', 'width=300')", {0, 0, 300, 300},
         0x8007, false, false, false},  // borderless: titled and full-size content bits
        {"window.open('child.html?sheet=1&modal=1')", {0, 0, 400, 300}, 7, true, true, false},
        {"window.open('child.html?sheet=yes')", {0, 0, 400, 300}, 7, false, true, false},
        {"window.open('child.html?modal=1')", {0, 0, 400, 300}, 7, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        WVWindowController* opened = openFromPage(*main, c.script);
        ASSERT_TRUE(opened);
        auto window = opened->window();
        const gtk::Rect frame = window->frame();
        if (c.frame.x || c.frame.y) {
            EXPECT_EQ(frame.x, c.frame.x);
            EXPECT_EQ(frame.y, c.frame.y);
        }
        EXPECT_EQ(frame.width, c.frame.width);
        EXPECT_EQ(frame.height, c.frame.height);
        EXPECT_EQ(window->styleMask(), c.mask);
        EXPECT_EQ(bool(gtk_window_get_modal(window->gtkWindow())), c.modal);
        EXPECT_EQ(gtk_window_get_transient_for(window->gtkWindow()) == main->window()->gtkWindow(),
                  c.attached);
        EXPECT_EQ(main->window()->hasCover(), c.covered);
        window->performClose();
    }

    // A native window hands the page its window object, and shows once WebKit is ready.
    WVWindowController* native =
        openFromPage(*main, "window.kid = window.open('child.html?native=1', '', 'width=350')");
    ASSERT_TRUE(native);
    EXPECT_EQ(eval(*main->webview(), "typeof window.kid"), "\"object\"");
    EXPECT_TRUE(native->window()->isVisible());
    EXPECT_EQ(native->window()->frame().width, 350);
    // Every view of ours, the main one and those a page opens, can be inspected.
    for (auto* view : {main->webview()->view(), native->webview()->view()}) {
        EXPECT_TRUE(webkit_settings_get_enable_developer_extras(webkit_web_view_get_settings(view)));
    }
    native->window()->performClose();
}

TEST_F(WebWindowTest, ScriptPanelsAnswerThePage) {
    auto main = openWindow();
    auto panels = std::make_shared<ScriptedPanels>();
    main->webviewDelegate()->setPanels(panels);
    auto& view = *main->webview();
    EXPECT_EQ(eval(view, "alert('Hello'); 'after'"), "\"after\"");
    EXPECT_EQ(eval(view, "confirm('Sure?')"), "false");
    panels->confirmAnswer = true;
    EXPECT_EQ(eval(view, "confirm('Really?')"), "true");
    EXPECT_EQ(eval(view, "prompt('Name?', 'Ann')"), "null");  // cancelled: no text at all
    panels->promptAnswer = "";
    EXPECT_EQ(eval(view, "prompt('Name?')"), "\"\"");
    panels->promptAnswer = "Bo";
    EXPECT_EQ(eval(view, "prompt('Name?', 'Ann')"), "\"Bo\"");
    // A file input gets the chosen files.
    foundationtest::ScratchFolder folder;
    std::ofstream(folder / "song.mp3") << "x";
    panels->files = std::vector<std::string>{folder / "song.mp3"};
    eval(view, "var input = document.createElement('input'); input.type = 'file'; "
               "input.multiple = true; document.body.appendChild(input); input.onchange = "
               "function () { window.picked = input.files.length + ':' + input.files[0].name; }; "
               "input.click(); 0");
    waitForValue(view, "window.picked", "\"1:song.mp3\"");
    EXPECT_EQ(panels->asked, (std::vector<std::string>{"alert Hello", "confirm Sure?",
                                                       "confirm Really?", "prompt Name? [Ann]",
                                                       "prompt Name? []", "prompt Name? [Ann]",
                                                       "files"}));

    // The message boxes themselves, as a person answers them.
    main->webviewDelegate()->setPanels(std::make_shared<AlertWebviewPanels>());
    apptest::DialogAnswerer ok(gtk::Alert::kFirstButton);
    EXPECT_EQ(eval(view, "confirm('Go on?')"), "true");
    EXPECT_NE(ok.texts().find("Go on?"), std::string::npos);
    apptest::DialogAnswerer cancel(gtk::Alert::kFirstButton + 1);
    EXPECT_EQ(eval(view, "prompt('Name?', 'Ann')"), "null");
}

TEST_F(WebWindowTest, HitTestNamesTheElementUnderAPoint) {
    auto window = openWindow();
    window->loadURLString("myapp://x/hit.html");
    waitForValue(*window->webview(), "!!document.getElementById('grip')", "true");
    auto& view = *window->webview();
    EXPECT_EQ(WKWebView::htmlElementAtPoint(view, 10.9, 20.9),
              Value::dict({{"tagName", "DIV"}, {"id", "grip"}, {"class", "w2ui-resizer"}}));
    EXPECT_EQ(WKWebView::htmlElementAtPoint(view, 50, 70),
              Value::dict({{"tagName", "P"}, {"id", Value::null()}, {"class", Value::null()}}));
    EXPECT_EQ(WKWebView::htmlElementAtPoint(view, -5, -5), std::nullopt);
    EXPECT_EQ(WKWebView::htmlElementAtPoint(view, 5000, 10), std::nullopt);
}

TEST_F(WebWindowTest, BorderlessWindowsDragByTheirTitleArea) {
    auto controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
        {100, 100, 500, 400}, gtk::Closable | gtk::Resizable, nullptr);
    controller->loadURLString("myapp://x/hit.html");
    controller->showWindow();
    auto& view = *controller->webview();
    waitForValue(view, "!!document.getElementById('grip')", "true");
    auto window = controller->window();
    ASSERT_TRUE(window->isBorderless());
    window->setTitleHeight(40);
    auto borderless = controller->borderlessWindow();
    ASSERT_TRUE(borderless);

    // In the title area but on the page's resizer handle: no drag.
    borderless->mouseDown(100, 10);
    testsupport::drainMainLoop();
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return eval(view, "1") == "1"; }));
    EXPECT_FALSE(borderless->isDragging());
    borderless->mouseUp(100, 10, 1);
    // Too close to the top edge, then below the title area: no drag either. Only the
    // press outside the edge band writes its point.
    {
        apptest::LogCapture log;
        for (double y : {3.0, 60.0}) {
            borderless->mouseDown(300, y);
            EXPECT_FALSE(borderless->isDragging()) << y;
            borderless->mouseUp(300, y, 1);
        }
        EXPECT_FALSE(log.has("300.000000,397.000000"));
        EXPECT_TRUE(log.has("300.000000,340.000000"));
    }

    // Off the handle: the page answers and the drag starts; upwards it stops at the top.
    // The press in the title area writes what it found.
    {
        apptest::LogCapture log;
        borderless->mouseDown(300, 10);
        ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return borderless->isDragging(); }));
        for (const char* line : {"300.000000,390.000000", "title transparent: Yes",
                                 "fullsize content: Yes",
                                 "window frame: ", "content view: 0.000000, 0.000000, ",
                                 "webview:(WebKitWebView) "})
            EXPECT_TRUE(log.has(line)) << line;
        // What the page answered for the point, or that it answered nothing.
        EXPECT_TRUE(log.has("[DEBUG] {\"") || log.has("[DEBUG] (null)"));
    }
    const int screenTop = gtk::Screen::mainFrame().y;
    borderless->mouseDragged(300, 20, 450, screenTop + 5);
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] {
        return window->frame().x == 150 && window->frame().y == screenTop;
    })) << window->frame().x << "," << window->frame().y;
    borderless->mouseUp(300, 20, 1);
    EXPECT_FALSE(borderless->isDragging());

    // A double click in the title area fills the screen and back.
    borderless->mouseUp(300, 20, 2);
    EXPECT_TRUE(window->isZoomed());
    borderless->mouseUp(300, 20, 2);
    EXPECT_FALSE(window->isZoomed());
    // The same through the toolkit's own event dispatch: the window's gestures see it.
    GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window->gtkWindow()));
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
    const GdkEventType clicks[] = {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE, GDK_BUTTON_PRESS,
                                   GDK_2BUTTON_PRESS, GDK_BUTTON_RELEASE};
    guint32 time = 1000;
    for (GdkEventType type : clicks) {
        GdkEvent* event = gdk_event_new(type);
        event->button.window = GDK_WINDOW(g_object_ref(surface));
        event->button.x = 300;
        event->button.y = 20;
        event->button.button = 1;
        event->button.time = time += 10;
        gdk_event_set_device(event, pointer);
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return window->isZoomed(); }));

    // A locked level ignores every change.
    window->setLevel(3);
    window->setIsLevelLocked(true);
    window->setLevel(0);
    EXPECT_EQ(window->level(), 3);
    window->performClose();
}

TEST_F(WebWindowTest, PagesMoveResizeAndCloseTheirWindow) {
    auto main = openWindow({100, 200, 800, 600});
    auto page = main->webview();  // kept: the page answers while its window closes
    auto& view = *page;
    auto window = [&](const char* cmd, const Value& data = foundation::Dictionary{}) {
        startCall(view, cmd, "wvevent",
                  Value::dict({{"event", "window"}, {"data", Value::dict({{"cmd", cmd}, {"data", data}})}}));
        return answer(view, cmd);
    };
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return main->window()->frame().y == 200; }));
    EXPECT_EQ(window("size"), Value::dict({{"result", true},
                                           {"data", Value::dict({{"x", 100},
                                                                 {"y", 200},
                                                                 {"width", 800},
                                                                 {"height", 600}})}}));
    EXPECT_EQ(window("resize", Value::dict({{"y", 50}, {"width", 0}})), Value::dict({{"result", true}}));
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] {
        const auto frame = main->window()->frame();
        return frame.y == 50 && frame.width == 1 && frame.height == 600;
    }));
    EXPECT_EQ(window("modalwindow"), Value::dict({{"result", false}}));

    // A modal window is reported in the window system's coordinates.
    const double screenHeight = gtk::Screen::mainFrame().height;
    WVWindowController* modal =
        openFromPage(*main, "window.open('child.html?modal=1', '', 'left=30,top=40,width=320')");
    ASSERT_TRUE(modal);
    modal->window()->setTitle("Modal");
    EXPECT_EQ(window("modalwindow")["data"],
              Value::dict({{"title", "Modal"},
                           {"style", 7},
                           {"frame", Value::dict({{"x", 30},
                                                  {"y", int(screenHeight) - 40 - 300},
                                                  {"width", 320},
                                                  {"height", 300}})}}));
    modal->window()->performClose();
    // One without a title bar: its content covers the whole frame.
    WVWindowController* bare = openFromPage(*main, "window.open('child.html?modal=1&titled=0')");
    ASSERT_TRUE(bare);
    EXPECT_EQ(window("modalwindow")["data"]["style"], Value(0x8007));
    bare->window()->performClose();

    EXPECT_EQ(window("close"), Value::dict({{"result", true}}));
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return main->window()->isClosed(); }));
}

}  // namespace
