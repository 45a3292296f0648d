#include <gtest/gtest.h>

#include "shell/windows/WindowOpenOptions.h"

namespace {

using Query = std::map<std::string, std::string>;

TEST(WindowOpenOptions, StyleMaskSizeAndPresentation) {
    struct Case {
        Query query;
        WindowOpenOptions::Features features;
        std::uint64_t mask;
        int width, height;
        bool modal, sheet, native;
    };
    const Case cases[] = {
        {{}, {}, 7, 400, 300, false, false, false},
        {{}, {.width = 640, .resizable = true}, 15, 640, 300, false, false, false},
        {{{"titled", "0"}}, {.resizable = true}, 14, 400, 300, false, false, false},
        {{{"titled", "0"}}, {}, 6, 400, 300, false, false, false},
        {{{"resizable", "no"}}, {.resizable = true}, 7, 400, 300, false, false, false},
        {{{"closable", "false"}, {"miniaturizable", "NO"}},
         {.resizable = true},
         9,
         400,
         300,
         false,
         false,
         false},
        {{{"modal", "1"}, {"sheet", "yes"}}, {}, 7, 400, 300, true, true, false},
        {{{"sheet", "true"}}, {}, 7, 400, 300, false, true, false},
        {{{"modal", " +007"}, {"native", "Y"}}, {}, 7, 400, 300, true, false, true},
        {{{"modal", "0"}, {"native", ""}}, {.height = 90}, 7, 400, 90, false, false, false},
    };
    for (const auto& c : cases) {
        const auto options = WindowOpenOptions::read(c.query, c.features);
        EXPECT_EQ(options.styleMask, c.mask);
        EXPECT_EQ(options.rect.width, c.width);
        EXPECT_EQ(options.rect.height, c.height);
        EXPECT_EQ(options.modal, c.modal);
        EXPECT_EQ(options.sheet, c.sheet);
        EXPECT_EQ(options.native, c.native);
    }
    EXPECT_EQ(WindowOpenOptions::read({{"name", "child"}}, {}).name, "child");

    // Features carried in the query: leading numbers, 0 when there is none.
    const auto features = WindowOpenOptions::featuresFromQuery(
        {{"left", "10"}, {"top", "20.5px"}, {"width", "wide"}, {"height", "300"}, {"resizable", "yes"}});
    EXPECT_EQ(features.x, 10);
    EXPECT_EQ(features.y, 20.5);
    EXPECT_EQ(features.width, 0);
    EXPECT_EQ(features.height, 300);
    EXPECT_TRUE(features.resizable);
    EXPECT_FALSE(WindowOpenOptions::featuresFromQuery({}).resizable);
    EXPECT_FALSE(WindowOpenOptions::read({}, {}).name);
}

}  // namespace
