#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/gtk/Window.h"

// How a window the page opens with window.open is shown, read from the query of the URL
// it opens and the window features the browser passes.
struct WindowOpenOptions {
    // What the browser knows of the features ("width=...,resizable=..."); absent are 0/no.
    struct Features {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;
        bool resizable = false;
    };

    gtk::Rect rect;
    std::uint64_t styleMask = 0;
    bool modal = false;
    bool sheet = false;
    bool native = false;
    std::optional<std::string> name;

    // Positions are measured from the top left of the screen, by the page and by GTK alike.
    static WindowOpenOptions read(const std::map<std::string, std::string>& query,
                                  const Features& features);
    // The features the page's window.open carried into the query: "left", "top", "width"
    // and "height" by the leading number of their text (0 when there is none), and
    // "resizable".
    static Features featuresFromQuery(const std::map<std::string, std::string>& query);
};

// The platform's reading of a text as a boolean: true when, after white space, a sign and
// leading zeros, it begins with Y, y, T, t or a digit 1 to 9.
bool textBoolValue(const std::string& text);
