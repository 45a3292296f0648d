#pragma once

typedef struct _GtkWidget GtkWidget;

// The translucent cover laid over an opener's content while a modal window is open: light
// grey at half opacity, and every click on it is swallowed.
class ModalView {
public:
    // A new cover widget (floating, for Window::addCover).
    static GtkWidget* create();
    static bool isModalView(GtkWidget* widget);
};
