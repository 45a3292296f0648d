#include <gtest/gtest.h>

#include <webkit2/webkit2.h>

#include "content/SchemeFixtures.h"
#include "content/SchemeResponders.h"
#include "content/StaticFileResponse.h"
#include "platform/gtk/Window.h"
#include "platform/webkit/WebView.h"
#include "shell/windows/WebKitSchemeTask.h"
#include "support/MainLoop.h"

namespace {

TEST(SchemeInBrowser, PageFromThePackFetchesFromTheScheme) {
    content::registerSchemeResponders();
    ASSERT_TRUE(content::StaticFileResponse::initializeWithData(
        contenttest::makePack(
            {contenttest::file("index.html",
                               "<title>packed</title><script>"
                               "fetch('/ajax').then(r => r.text()).then(t => document.title = t)"
                               ".catch(e => document.title = 'failed: ' + e);"
                               "</script>")}),
        "pelmor"));

    WebKitWebContext* context = webkit_web_context_new();
    WebKitSchemeTask::installOn(context);
    WebKitSchemeTask::installOn(context);  // a second install changes nothing
    gtk::Window window({0, 0, 400, 300}, gtk::Titled | gtk::Closable | gtk::Resizable);
    webkit::WebView view({.context = context});
    window.setContent(view.widget());
    window.show();

    std::string title;
    view.onTitleChanged = [&](const std::string& t) { title = t; };
    view.loadURI("myapp://x/");
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return title == "this is a dynamic test"; }))
        << "last title: " << title;
    g_object_unref(context);
}

}  // namespace
