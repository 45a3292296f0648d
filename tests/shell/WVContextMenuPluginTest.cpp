#include <gtest/gtest.h>

#include <gdk/gdk.h>

#include "shell/plugins/WVContextMenuPlugin.h"

using foundation::Value;

namespace {

// The entries in one line: separators as "-", items as title#tag:id with their states.
std::string outline(const std::vector<gtk::PopupMenu::Item>& entries) {
    std::string text;
    for (const auto& entry : entries) {
        if (!text.empty()) text += ' ';
        if (entry.separator) {
            text += '-';
            continue;
        }
        text += entry.title + '#' + std::to_string(entry.tag) + ':' + entry.id;
        if (entry.checked) text += "+checked";
        if (!entry.enabled) text += "-disabled";
        if (entry.hasSubmenu) text += ">[" + outline(entry.items) + "]";
    }
    return text;
}

TEST(WVContextMenuPlugin, DescriptionBecomesEntries) {
    const Value items = Value::list({
        Value::dict({{"title", "-"}}),
        Value::dict({{"title", ""}}),
        Value::dict({{"title", "---"}, {"tag", 4}}),  // a separator ignores every other key
        Value::dict({{"title", "a-b"}, {"tag", "7"}, {"id", "dash"}, {"checked", true}}),
        Value::dict({{"title", "Hidden"}, {"visible", false}}),
        // A check mark given as text is ignored.
        Value::dict({{"title", "Shown"}, {"visible", "yes"}, {"disabled", 1}, {"checked", "true"}}),
        "not a record",
        Value::dict({{"tag", 3}}),  // no title
        Value::dict({{"title", "More"},
                     {"items", Value::list({Value::dict({{"title", "Deep"}, {"id", "d"}})})}}),
    });
    EXPECT_EQ(outline(WVContextMenuPlugin::addItems(items)),
              "- - - a-b#7:dash+checked Shown#0:-disabled More#0:>[Deep#0:d]");
}

TEST(WVContextMenuPlugin, KeyMasks) {
    const struct {
        Value keyMask;
        std::optional<std::uint64_t> mask;
        unsigned desktop;
    } cases[] = {
        {Value::dict({{"command", true}, {"shift", true}}), 0x120000,
         GDK_CONTROL_MASK | GDK_SHIFT_MASK},
        {Value::dict({{"alt", 1}}), 0x80000, GDK_MOD1_MASK},
        {Value::dict({{"control", "yes"}}), 0x40000, GDK_CONTROL_MASK},
        {Value::dict({{"shift", true}, {"alt", true}, {"command", true}, {"control", true}}),
         0x1E0000, GDK_CONTROL_MASK | GDK_SHIFT_MASK | GDK_MOD1_MASK},
        {Value::dict({{"shift", false}, {"alt", false}, {"command", false}, {"control", false}}),
         std::nullopt, 0},
        {Value("command"), std::nullopt, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WVContextMenuPlugin::keyEquivalentModifierMask(c.keyMask), c.mask);
        if (c.mask) {
            EXPECT_EQ(WVContextMenuPlugin::desktopModifiers(*c.mask), c.desktop);
        }
    }
    // Without a mask the key shows with the default, the command key.
    const auto entries = WVContextMenuPlugin::addItems(
        Value::list({Value::dict({{"title", "Copy"}, {"key", "c"}})}));
    EXPECT_EQ(entries[0].keyModifiers, unsigned(GDK_CONTROL_MASK));
}

}  // namespace
