#include <gtest/gtest.h>

#include "DialogAnswerer.h"
#include "foundation/UserDefaults.h"
#include "shell/AlertController.h"

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
    DialogAnswerer replace(kFirst, true);
    EXPECT_EQ(AlertController::overwriteForItemWithKeyForWindow("a.mp3", " \t", nullptr), 1);
}

}  // namespace
