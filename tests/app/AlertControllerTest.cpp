#include <gtest/gtest.h>

#include "DialogAnswerer.h"
#include "foundation/UserDefaults.h"
#include "shell/AlertController.h"
#include "shell/ModalController.h"
#include "shell/Settings.h"

using apptest::DialogAnswerer;

namespace {

constexpr int kFirst = gtk::Alert::kFirstButton;

TEST(AlertController, MessageTextsShowAsWritten) {
    DialogAnswerer answer(kFirst);
    AlertController::MsgBoxForWindow("100% sure: %@ %s <b>", nullptr);
    EXPECT_TRUE(answer.answered());
    EXPECT_NE(answer.texts().find("100% sure: %@ %s <b>"), std::string::npos) << answer.texts();
    EXPECT_EQ(AlertController::controller().pendingResults(), 0u);
}

TEST(AlertController, ConfirmationsAnswerClassicCodesAndRememberTheCheckBox) {
    struct Case {
        int button;
        bool tick;
        int code;
    };
    auto& defaults = foundation::UserDefaults::standard();
    for (const Case& c : {Case{kFirst, true, 1}, Case{kFirst + 1, false, 0}}) {
        defaults.setBool("remembered", !c.tick);
        DialogAnswerer answer(c.button, c.tick);
        EXPECT_EQ(AlertController::confirmWithMessageRememberKeyForWindow("Go on?", "remembered",
                                                                          nullptr),
                  c.code);
        EXPECT_EQ(defaults.boolForKey("remembered"), c.tick);
        EXPECT_EQ(AlertController::controller().pendingResults(), 0u);
    }
    DialogAnswerer yes(kFirst);
    EXPECT_TRUE(AlertController::confirmWithMessageForWindow("Sure?", nullptr));
    DialogAnswerer cancel(kFirst + 1);
    EXPECT_FALSE(AlertController::confirmWithTitleMessageForWindow("Title", "Sure?", nullptr));
}

TEST(AlertController, OverwriteOffersThreeChoicesAndAppliesToAll) {
    auto& defaults = foundation::UserDefaults::standard();
    defaults.setBool("applyAll", true);
    {
        DialogAnswerer answer(kFirst + 2);
        EXPECT_EQ(AlertController::overwriteForItemWithKeyForWindow("a.mp3", "applyAll", nullptr),
                  -1);
        EXPECT_NE(answer.texts().find("The item named 'a.mp3' already exists"), std::string::npos);
        EXPECT_NE(answer.texts().find("Apply to all items"), std::string::npos);
    }
    EXPECT_FALSE(defaults.boolForKey("applyAll"));
    {
        // The whole question, as written (its missing space included).
        DialogAnswerer skip(kFirst + 1);
        EXPECT_EQ(AlertController::overwriteForItemWithKeyForWindow("b %@.mp3", "applyAll",
                                                                    nullptr),
                  0);
        EXPECT_NE(skip.texts().find("The item named 'b %@.mp3' already exists in thislocation. "
                                    "Do you want to replace it or keep both?\n"),
                  std::string::npos)
            << skip.texts();
        for (const char* button : {"Replace\n", "Skip\n", "Keep Both\n"})
            EXPECT_NE(skip.texts().find(button), std::string::npos) << button;
    }
    {
        // Ticked, the choice holds for the items still to come.
        DialogAnswerer replaceAll(kFirst, true);
        EXPECT_EQ(AlertController::overwriteForItemWithKeyForWindow("c.mp3", "applyAll", nullptr),
                  1);
        EXPECT_TRUE(replaceAll.answered());
    }
    EXPECT_EQ(defaults.objectForKey("applyAll"), foundation::Value(true));
    defaults.removeObject("applyAll");
    // Without a key there is no check box, and nothing is stored.
    DialogAnswerer replace(kFirst, true);
    EXPECT_EQ(AlertController::overwriteForItemWithKeyForWindow("a.mp3", " \t", nullptr), 1);
    EXPECT_EQ(replace.texts().find("Apply to all items"), std::string::npos);
    EXPECT_EQ(defaults.objectForKey(" \t"), foundation::Value());
}

TEST(AlertController, AConfirmationShowsTheIconItIsGiven) {
    {
        DialogAnswerer answer(kFirst);
        EXPECT_EQ(AlertController::confirmWithTitleMessageRememberKeyIconForWindow(
                      "Copy", "Go on?", "iconKey", "drive-harddisk", nullptr),
                  1);
        EXPECT_EQ(answer.icons(), "drive-harddisk\n");
    }
    DialogAnswerer plain(kFirst + 1);
    EXPECT_EQ(AlertController::confirmWithTitleMessageRememberKeyForWindow("Copy", "Go on?",
                                                                           std::nullopt, nullptr),
              0);
    EXPECT_EQ(plain.icons(), "");
}

// The list of files always comes in its read-only text view, also when it is empty.
TEST(AlertController, AFileListShowsInATextViewEvenWhenEmpty) {
    {
        DialogAnswerer answer(kFirst);
        AlertController::MsgBoxWithFilesMessage({"a.mp3", "b c.m4a"}, "Not copied");
        EXPECT_NE(answer.texts().find("Not copied"), std::string::npos);
        EXPECT_EQ(answer.textViews(), "400x100 read-only: a.mp3\r\nb c.m4a\r\n\n");
    }
    DialogAnswerer answer(kFirst);
    AlertController::MsgBoxWithFilesMessage({}, "Nothing");
    EXPECT_EQ(answer.textViews(), "400x100 read-only: \n");
}

TEST(Settings, MsgBoxShowsTheMessageWithOneButton) {
    DialogAnswerer answer(kFirst);
    Settings::MsgBox("Nothing to export: %@");
    EXPECT_TRUE(answer.answered());
    EXPECT_NE(answer.texts().find("Nothing to export: %@"), std::string::npos);
}

// The modal run lasts until it is cancelled, or until its window goes.
TEST(ModalController, RunsUntilCancelledOrClosed) {
    ModalController none;
    none.DoModal();  // no window: nothing to run
    EXPECT_FALSE(none.isModal());

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 200, 100}, gtk::Titled);
    ModalController controller(window);
    struct Seen {
        ModalController* controller;
        bool modalWhileRunning = false;
    } seen{&controller};
    g_idle_add(
        [](gpointer data) -> gboolean {
            auto* seen = static_cast<Seen*>(data);
            seen->modalWhileRunning = seen->controller->isModal() &&
                                      gtk_window_get_modal(seen->controller->window()->gtkWindow());
            seen->controller->CancelModal();
            return G_SOURCE_REMOVE;
        },
        &seen);
    controller.DoModal();
    EXPECT_TRUE(seen.modalWhileRunning);
    EXPECT_FALSE(controller.isModal());

    g_idle_add(
        [](gpointer data) -> gboolean {
            static_cast<gtk::Window*>(data)->close();
            return G_SOURCE_REMOVE;
        },
        window.get());
    controller.DoModal();
    EXPECT_FALSE(controller.isModal());
    controller.awakeFromNib();
    EXPECT_FALSE(controller.isModal());
}

}  // namespace
