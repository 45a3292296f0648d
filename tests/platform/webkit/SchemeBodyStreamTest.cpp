// The body stream between a responder's pieces and the browser view's reads.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/webkit/SchemeBody.h"
#include "platform/webkit/SchemeBodyStream.h"
#include "support/MainLoop.h"

namespace {

std::vector<std::uint8_t> piece(std::size_t size, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = std::uint8_t(first + i);
    return bytes;
}

struct AsyncRead {
    bool done = false;
    gssize got = 0;
    GError* error = nullptr;
    ~AsyncRead() {
        if (error) g_error_free(error);
    }
    static void finished(GObject* stream, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<AsyncRead*>(data);
        read->got = g_input_stream_read_finish(G_INPUT_STREAM(stream), result, &read->error);
        read->done = true;
    }
};

TEST(SchemeBodyStream, ReadsEveryByteInOrderWhileHoldingOnlyABoundedAmount) {
    constexpr std::size_t kLimit = 256 * 1024, kPiece = 64 * 1024, kPieces = 64;
    auto body = std::make_shared<webkit::SchemeBody>(nullptr, kLimit);
    GInputStream* stream = webkit::makeSchemeBodyStream(body);
    std::atomic<std::size_t> added = 0;
    std::thread producer([&] {
        for (std::size_t i = 0; i < kPieces; ++i) {
            ASSERT_TRUE(body->add(piece(kPiece, std::uint8_t(i))));
            added += kPiece;
        }
        body->finish();
    });
    std::vector<std::uint8_t> all;
    std::size_t mostAhead = 0;
    std::uint8_t buffer[8192];
    for (;;) {
        const gssize n = g_input_stream_read(stream, buffer, sizeof buffer, nullptr, nullptr);
        ASSERT_GE(n, 0);
        if (n == 0) break;
        all.insert(all.end(), buffer, buffer + n);
        mostAhead = std::max(mostAhead, added.load() - std::min(added.load(), all.size()));
    }
    producer.join();
    ASSERT_EQ(all.size(), kPiece * kPieces);
    for (std::size_t i = 0; i < kPieces; ++i)
        ASSERT_EQ(all[i * kPiece + 5], std::uint8_t(i + 5)) << "piece " << i;
    // The producer never gets further ahead than the limit and the piece it is adding.
    EXPECT_LE(mostAhead, kLimit + kPiece);
    g_object_unref(stream);
}

TEST(SchemeBodyStream, ABodyThatFailsGivesWhatArrivedThenAnErrorNeverACleanEnd) {
    auto body = std::make_shared<webkit::SchemeBody>(nullptr);
    GInputStream* stream = webkit::makeSchemeBodyStream(body);
    body->add(piece(100, 0));
    body->fail("the device went away");
    body->finish();  // too late: the failure stands
    std::uint8_t buffer[1000];
    EXPECT_EQ(g_input_stream_read(stream, buffer, sizeof buffer, nullptr, nullptr), 100);
    GError* error = nullptr;
    EXPECT_EQ(g_input_stream_read(stream, buffer, sizeof buffer, nullptr, &error), -1);
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_FAILED));
    EXPECT_STREQ(error->message, "the device went away");
    g_error_free(error);
    g_object_unref(stream);
}

TEST(SchemeBodyStream, AnAsyncReadWaitsForThePieceOfAnotherThread) {
    auto body = std::make_shared<webkit::SchemeBody>(nullptr);
    GInputStream* stream = webkit::makeSchemeBodyStream(body);
    std::uint8_t buffer[64];
    AsyncRead read;
    g_input_stream_read_async(stream, buffer, sizeof buffer, G_PRIORITY_DEFAULT, nullptr,
                              AsyncRead::finished, &read);
    testsupport::drainMainLoop();
    EXPECT_FALSE(read.done);
    std::thread([&] { body->add(piece(10, 42)); }).join();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return read.done; }));
    EXPECT_EQ(read.got, 10);
    EXPECT_EQ(buffer[0], 42);

    AsyncRead end;
    body->finish();
    g_input_stream_read_async(stream, buffer, sizeof buffer, G_PRIORITY_DEFAULT, nullptr,
                              AsyncRead::finished, &end);
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return end.done; }));
    EXPECT_EQ(end.got, 0);
    g_object_unref(stream);
}

TEST(SchemeBodyStream, AReaderThatStopsReleasesTheProducerAndSaysSoOnce) {
    struct Case {
        const char* label;
        bool cancel;  // a waiting read is cancelled; else the stream is dropped
    };
    for (const Case c : {Case{"cancelled read", true}, Case{"stream dropped", false}}) {
        int gone = 0;
        auto body = std::make_shared<webkit::SchemeBody>([&] { ++gone; }, 1024);
        GInputStream* stream = webkit::makeSchemeBodyStream(body);
        GCancellable* cancellable = g_cancellable_new();
        std::uint8_t buffer[16];
        AsyncRead read;
        if (c.cancel) {
            g_input_stream_read_async(stream, buffer, sizeof buffer, G_PRIORITY_DEFAULT,
                                      cancellable, AsyncRead::finished, &read);
            testsupport::drainMainLoop();
            ASSERT_FALSE(read.done) << c.label;
            g_cancellable_cancel(cancellable);
            ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return read.done; })) << c.label;
            EXPECT_TRUE(g_error_matches(read.error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) << c.label;
        }
        // The producer fills the held room and then waits for a reader, until there is none.
        bool producerAdded = true;
        std::thread producer([&] {
            while ((producerAdded = body->add(piece(512, 0)))) {
            }
        });
        if (!c.cancel) g_object_unref(stream);
        producer.join();
        if (c.cancel) g_object_unref(stream);
        EXPECT_FALSE(producerAdded) << c.label;
        EXPECT_TRUE(body->readerGone()) << c.label;
        EXPECT_EQ(gone, 1) << c.label;
        g_object_unref(cancellable);
    }
}

// The view's read callback may drop the stream's last reference while the cancellation that
// answered the read is still being delivered.
TEST(SchemeBodyStream, ACancelledReadMayReleaseTheStreamFromItsCallback) {
    int gone = 0;
    auto body = std::make_shared<webkit::SchemeBody>([&] { ++gone; });
    GInputStream* stream = webkit::makeSchemeBodyStream(body);
    GCancellable* cancellable = g_cancellable_new();
    std::uint8_t buffer[16];
    struct Outcome {
        GInputStream* stream;
        bool done = false;
        bool cancelled = false;
    } outcome{stream};
    g_input_stream_read_async(
        stream, buffer, sizeof buffer, G_PRIORITY_DEFAULT, cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* outcome = static_cast<Outcome*>(data);
            GError* error = nullptr;
            g_input_stream_read_finish(G_INPUT_STREAM(source), result, &error);
            outcome->cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            if (error) g_error_free(error);
            outcome->done = true;
            g_object_unref(outcome->stream);  // the last reference but the read's own
        },
        &outcome);
    testsupport::drainMainLoop();  // the answer comes in a later turn, straight to the callback
    g_cancellable_cancel(cancellable);
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return outcome.done; }));
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(gone, 1);
    g_object_unref(cancellable);
}

TEST(SchemeBodyStream, ClosingAfterTheEndIsNoStop) {
    int gone = 0;
    auto body = std::make_shared<webkit::SchemeBody>([&] { ++gone; });
    GInputStream* stream = webkit::makeSchemeBodyStream(body);
    body->add(piece(3, 0));
    body->finish();
    g_object_unref(stream);
    EXPECT_EQ(gone, 0);
}

}  // namespace
