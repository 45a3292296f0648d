#include <gtest/gtest.h>

#include "foundation/Json.h"
#include "shell/events/iTunesHandler.h"

using foundation::Value;

namespace {

// Answers from a small library: track "A1" is in playlist "Road" and has a file; the
// tagged track "T"/"B"/"R" is in "Road"; "A1" can be added to any playlist but "Full".
iTunesScriptServices fakeLibrary(std::vector<std::string>& calls) {
    iTunesScriptServices s;
    s.pathForTrackByPID = [&calls](const std::string& pid) -> std::optional<std::string> {
        calls.push_back("path " + pid);
        if (pid == "A1") return std::string("/music/a1.m4a");
        return std::nullopt;
    };
    s.checkTrackInPlayList = [&calls](const std::string& pid, const std::string& playlist) {
        calls.push_back("check " + pid + " " + playlist);
        return pid == "A1" && playlist == "Road";
    };
    s.checkTrackTitleArtistAlbumInPlaylist =
        [&calls](const std::string& title, const std::string& artist, const std::string& album,
                 const std::string& playlist) {
            calls.push_back("tags " + title + "/" + artist + "/" + album + " " + playlist);
            return title == "T" && artist == "B" && album == "R" && playlist == "Road";
        };
    s.addToITunesPlaylist = [&calls](const std::string& pid, const std::string& playlist) {
        calls.push_back("add " + pid + " " + playlist);
        return pid == "A1" && playlist != "Full";
    };
    return s;
}

}  // namespace

TEST(iTunesHandler, AnswersEachCommandAndRefusesBadArguments) {
    struct Case {
        const char* cmd;
        const char* data;   // JSON
        const char* reply;  // JSON
        const char* call;   // what reached the library, "" for nothing
    };
    const Case cases[] = {
        {"get-track-path", R"({"pid":"A1"})", R"({"data":{"path":"/music/a1.m4a"},"result":true})",
         "path A1"},
        {"get-track-path", R"({"pid":"Z9"})", R"({"result":false})", "path Z9"},
        {"get-track-path", R"({"pid":5})", R"({"error":"Invalid persistentID","result":false})",
         ""},
        {"get-track-path", R"({})", R"({"error":"Invalid persistentID","result":false})", ""},
        {"check-track-in-playlist", R"({"pid":"A1","playlist":"Road"})", R"({"result":true})",
         "check A1 Road"},
        {"check-track-in-playlist", R"({"pid":"A1","playlist":"Rest"})", R"({"result":false})",
         "check A1 Rest"},
        {"check-track-in-playlist", R"({"pid":"A1"})",
         R"({"error":"Invalid parameter","result":false})", ""},
        {"check-track-in-playlist",
         R"({"advanced":true,"title":"T","artist":"B","album":"R","playlist":"Road"})",
         R"({"result":true})", "tags T/B/R Road"},
        {"check-track-in-playlist", R"({"advanced":1,"title":"T","artist":"B","album":"R"})",
         R"({"result":false})", "tags T/B/R "},
        {"check-track-in-playlist",
         R"({"advanced":true,"pid":"A1","title":"T","artist":"B","playlist":"Road"})",
         R"({"error":"Invalid parameter for advanced check track in playlist","result":false})",
         ""},
        {"check-track-in-playlist", R"({"advanced":false,"pid":"A1","playlist":"Road"})",
         R"({"result":true})", "check A1 Road"},
        {"add-track-to-playlist", R"({"pid":"A1","playlist":"Road"})", R"({"result":true})",
         "add A1 Road"},
        {"add-track-to-playlist", R"({"pid":"A1","playlist":"Full"})", R"({"result":false})",
         "add A1 Full"},
        {"add-track-to-playlist", R"({"pid":"A1"})",
         R"({"error":"Invalid parameter","result":false})", ""},
        {"play", R"({})", R"({"error":"unhandled command: play","result":false})", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cmd) + " " + c.data);
        std::vector<std::string> calls;
        auto handler = iTunesHandler::handlerClass(fakeLibrary(calls)).make();
        Value request = Value::dict({{"cmd", c.cmd}});
        request.set("data", *foundation::json::read(c.data));
        std::vector<Value> replies;
        handler->handleRequestEventPluginCallback(
            request, nullptr, [&](const Value& reply) { replies.push_back(reply); });
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(foundation::json::write(replies[0]), c.reply);
        EXPECT_EQ(calls, std::string(c.call).empty() ? std::vector<std::string>{}
                                                     : std::vector<std::string>{c.call});
    }
}

// The page may send the flag as text, as the page's other values: "true" and "1" choose
// the tagged form, "false" and "0" the plain one.
TEST(iTunesHandler, TheAdvancedFlagSentAsTextCounts) {
    const std::pair<const char*, const char*> cases[] = {
        {R"("true")", "tags T/B/R Road"}, {R"("YES")", "tags T/B/R Road"},
        {R"("1")", "tags T/B/R Road"},    {R"("false")", "check A1 Road"},
        {R"("0")", "check A1 Road"},      {R"("")", "check A1 Road"},
    };
    for (const auto& [flag, call] : cases) {
        SCOPED_TRACE(flag);
        std::vector<std::string> calls;
        auto handler = iTunesHandler::handlerClass(fakeLibrary(calls)).make();
        Value request = Value::dict({{"cmd", "check-track-in-playlist"}});
        request.set("data", *foundation::json::read(
                                std::string(R"({"pid":"A1","title":"T","artist":"B","album":"R",)") +
                                R"("playlist":"Road","advanced":)" + flag + "}"));
        Value reply;
        handler->handleRequestEventPluginCallback(request, nullptr,
                                                  [&](const Value& r) { reply = r; });
        EXPECT_EQ(foundation::json::write(reply), R"({"result":true})");
        EXPECT_EQ(calls, std::vector<std::string>{call});
    }
}

TEST(iTunesHandler, AnswersTheLibrarySummaryWhenItHasOne) {
    const auto ask = [](iTunesScriptServices services) {
        Value reply;
        iTunesHandler::handlerClass(std::move(services))
            .make()
            ->handleRequestEventPluginCallback(Value::dict({{"cmd", "library-summary"}}), nullptr,
                                               [&](const Value& answer) { reply = answer; });
        return foundation::json::write(reply);
    };
    iTunesScriptServices services;
    EXPECT_EQ(ask(services), R"({"error":"unhandled command: library-summary","result":false})");
    services.librarySummary = [] { return Value::dict({{"loaded", true}, {"trackCount", 2}}); };
    EXPECT_EQ(ask(services), R"({"data":{"loaded":true,"trackCount":2},"result":true})");
}
