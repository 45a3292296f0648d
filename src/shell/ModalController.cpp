#include "shell/ModalController.h"

#include <gtk/gtk.h>

#include <utility>

ModalController::ModalController(std::shared_ptr<gtk::Window> window)
    : window_(std::move(window)) {}

ModalController::~ModalController() {
    CancelModal();
}

void ModalController::DoModal() {
    if (!window_ || run_) return;
    isModal_ = true;
    GtkWindow* gtkWindow = window_->gtkWindow();
    gtk_window_set_modal(gtkWindow, TRUE);
    // A window that goes ends its run: nothing would be left to end it otherwise.
    const gulong hidden = g_signal_connect_swapped(
        gtkWindow, "hide", G_CALLBACK(+[](gpointer self) {
            static_cast<ModalController*>(self)->CancelModal();
        }),
        this);
    window_->show();
    run_ = g_main_loop_new(nullptr, FALSE);
    if (isModal_) g_main_loop_run(run_);
    g_main_loop_unref(run_);
    run_ = nullptr;
    g_signal_handler_disconnect(gtkWindow, hidden);
    gtk_window_set_modal(gtkWindow, FALSE);
}

void ModalController::CancelModal() {
    if (!isModal_) return;
    isModal_ = false;
    if (run_) g_main_loop_quit(run_);
}
