#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "shell/plugins/PluginClassList.h"
#include "shell/plugins/WVEventPlugin.h"
#include "shell/plugins/WVPluginBase.h"
#include "support/headlesspage/HeadlessFront.h"

using foundation::Value;

TEST(WVPluginBase, CleaningKeepsOnlyWhatJsonCarries) {
    struct Case {
        const char* name;
        Value object;
        Value cleaned;
    };
    const Case cases[] = {
        {"bytes beside an array",
         Value::dict({{"bytes", foundation::Data{1}},
                      {"list", Value::list({1, foundation::Data{2}, "text"})}}),
         Value::dict({{"list", Value::list({1, "text"})}})},
        {"empty dictionary", foundation::Dictionary{}, foundation::Dictionary{}},
        {"bytes alone", foundation::Data{1, 2}, Value()},
        {"null", Value::null(), Value()},
        {"scalars", Value::list({true, -1, 2u, 0.5, "s"}), Value::list({true, -1, 2u, 0.5, "s"})},
        {"dates as seconds", Value::dict({{"d", foundation::Date{86400.25}}}),
         Value::dict({{"d", 86400.25}})},
        {"nested emptied", Value::dict({{"a", Value::list({Value::null()})}}),
         Value::dict({{"a", foundation::Array{}}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WVPluginBase::removeInvalidTypeOfObject(c.object), c.cleaned);
    }
}

TEST(WVPluginBase, ClassesAreMadeInListOrderAndServeTheirNames) {
    const auto before = WVPluginBase::allClasses().size();
    PluginClassList list;
    list.localFilesystem = WVPluginBase::PluginClass{"WVLocalFilesystemPlugin", nullptr};
    list.addToPluginBase();
    auto classes = WVPluginBase::allClasses();
    ASSERT_EQ(classes.size(), before + 6);
    std::vector<std::string> names;
    for (auto at = classes.begin() + before; at != classes.end(); ++at) names.push_back(at->name);
    EXPECT_EQ(names, (std::vector<std::string>{"WVAppLogPlugin", "WVPathDialogPlugin",
                                               "WVLocalFilesystemPlugin", "WVEventPlugin",
                                               "WVUserDefaultsPlugin", "WVContextMenuPlugin"}));
    classes.erase(classes.begin() + before + 2);

    auto front = testsupport::HeadlessFront::open();
    auto view = std::make_shared<int>(1);
    std::vector<std::shared_ptr<WVPluginBase>> plugins;
    for (auto at = classes.begin() + before; at != classes.end(); ++at)
        plugins.push_back(at->make(front, view, {}));
    EXPECT_EQ(front->base().messageHandlerNames(),
              (std::vector<std::string>{"applog", "contextmenu", "dialog", "userdefaults",
                                        "wvevent"}));
    EXPECT_EQ(plugins[0]->wkbridge(), front);
    EXPECT_EQ(plugins[0]->webview(), view);
    EXPECT_EQ(plugins[0]->window(), nullptr);

    // The plugins hold their window's pieces weakly and outlive them quietly.
    std::weak_ptr<WVPluginBase> watched = plugins[1];
    plugins.clear();
    EXPECT_FALSE(watched.expired()) << "the bridge's handler keeps its plugin";
    front.reset();
    EXPECT_TRUE(watched.expired());
}

TEST(WVPluginBase, ClassLevelSetupMakesOneSharedInstancePerClass) {
    std::vector<std::shared_ptr<ScriptBridge>> handedOut;
    PluginClassList list;
    list.localFilesystem = WVPluginBase::PluginClass{
        "Counted", nullptr,
        [&](const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void>, std::weak_ptr<void>) {
            handedOut.push_back(bridge);
        }};
    list.addToPluginBase();
    const auto classes = WVPluginBase::allClasses();
    const auto listed = std::count_if(classes.begin(), classes.end(),
                                      [](const auto& c) { return c.name == "Counted"; });
    auto first = testsupport::HeadlessFront::open(), second = testsupport::HeadlessFront::open();
    WVPluginBase::setupWithBridgeWebviewInWindow(first, {}, {});
    WVPluginBase::setupWithBridgeWebviewInWindow(second, {}, {});
    // Every class is asked each time; only the first call makes the shared instances.
    EXPECT_EQ(std::count(handedOut.begin(), handedOut.end(), first), listed);
    EXPECT_EQ(std::count(handedOut.begin(), handedOut.end(), second), listed);
    EXPECT_EQ(
        first->base().messageHandlerNames(),
        (std::vector<std::string>{"applog", "contextmenu", "dialog", "userdefaults", "wvevent"}));
    EXPECT_TRUE(second->base().messageHandlerNames().empty());
}

TEST(WVPluginBase, RefusesToWorkWithoutABridge) {
    try {
        WVEventPlugin::create(nullptr, {}, {});
        FAIL() << "made without a bridge";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "invalid bridge instance");
    }
}

TEST(WVPluginBase, InitializeWritesItsConsoleLine) {
    auto front = testsupport::HeadlessFront::open();
    class Quiet : public WVPluginBase {
    public:
        using WVPluginBase::WVPluginBase;
        void OnJSNotification(const foundation::Notification&) override {}
    } plugin(front, {}, {});
    testing::internal::CaptureStderr();
    plugin.initialize();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WVPluginBase initialize\n");
}
