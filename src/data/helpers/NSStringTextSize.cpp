// Text measuring over Pango with its Cairo font map, which needs no display.
#include <pango/pangocairo.h>

#include <memory>

#include "data/helpers/NSStringHelpers.h"

namespace NSString {

TextSize sizeWithFontWidth(std::string_view text, std::string_view font, double width) {
    // Pango's default font map is per thread, so measuring needs no lock.
    PangoFontMap* fonts = pango_cairo_font_map_get_default();
    std::unique_ptr<PangoContext, decltype(&g_object_unref)> context(
        pango_font_map_create_context(fonts), g_object_unref);
    // 72 dots an inch: one Pango unit of size is one point.
    pango_cairo_context_set_resolution(context.get(), 72);
    std::unique_ptr<PangoLayout, decltype(&g_object_unref)> layout(pango_layout_new(context.get()),
                                                                   g_object_unref);
    const std::string fontText(font);
    std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> description(
        pango_font_description_from_string(fontText.c_str()), pango_font_description_free);
    pango_layout_set_font_description(layout.get(), description.get());
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    if (width > 0) {
        pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    }
    PangoRectangle logical{};
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE,
            static_cast<double>(logical.height) / PANGO_SCALE};
}

}  // namespace NSString
