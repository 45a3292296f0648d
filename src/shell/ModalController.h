#pragma once

#include <memory>

#include "platform/gtk/Window.h"

typedef struct _GMainLoop GMainLoop;

// A small base for application-modal dialogs: DoModal shows the window modal and returns
// once CancelModal ends the run, or the window goes. Main thread only.
class ModalController {
public:
    explicit ModalController(std::shared_ptr<gtk::Window> window = nullptr);
    virtual ~ModalController();
    ModalController(const ModalController&) = delete;
    ModalController& operator=(const ModalController&) = delete;

    void awakeFromNib() { isModal_ = false; }
    std::shared_ptr<gtk::Window> window() const { return window_; }
    bool isModal() const { return isModal_; }

    // Serves the main loop until the run is ended; nothing without a window.
    void DoModal();
    void CancelModal();

private:
    std::shared_ptr<gtk::Window> window_;
    bool isModal_ = false;
    GMainLoop* run_ = nullptr;  // while DoModal runs
};
