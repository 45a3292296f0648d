#pragma once

#include <glib.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Value.h"

namespace foundation::plist {

// Reads the XML form with GLib's GMarkup, which loads no external entities and expands
// only the five named entities and character references. Invalid UTF-8 becomes U+FFFD.
class XmlPropertyListReader {
public:
    std::optional<Value> read(std::string_view text, std::string* error);

private:
    enum class FrameKind { Plist, Array, Dictionary, Leaf };
    struct Frame {
        FrameKind kind;
        std::string element;
        Value value;  // the container being filled, or the value inside <plist>
        std::optional<std::string> pendingKey;
        std::string text;
        std::optional<Data> data;  // a <data> element's bytes, decoded from the document
    };

    static void onStartElement(GMarkupParseContext* context, const gchar* name,
                               const gchar** attributeNames, const gchar** attributeValues,
                               gpointer self, GError** error);
    static void onEndElement(GMarkupParseContext* context, const gchar* name, gpointer self,
                             GError** error);
    static void onText(GMarkupParseContext* context, const gchar* text, gsize length, gpointer self,
                       GError** error);
    static void reportFailure(XmlPropertyListReader& reader, GMarkupParseContext* context,
                              GError** error);

    bool parse(GMarkupParseContext* context, std::string_view text, GError** failure);
    static std::string standIn(std::size_t lineBreaks, std::size_t lastLineLength);
    std::optional<std::size_t> takeDataText(std::string_view content);
    bool startElement(std::string_view name);
    bool endElement();
    bool addText(std::string_view text);
    bool deliver(Value value);
    std::optional<Value> leafValue(Frame& frame);
    bool fail(std::string message);

    std::vector<Frame> stack_;
    std::size_t containerDepth_ = 0;
    std::size_t startedElements_ = 0;
    std::optional<Value> result_;
    std::string error_;
};

}  // namespace foundation::plist
