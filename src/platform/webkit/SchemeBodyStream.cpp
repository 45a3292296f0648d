#include "platform/webkit/SchemeBodyStream.h"

#include <gio/gio.h>

namespace webkit {
namespace {

struct BodyStream {
    GInputStream parent;
    std::shared_ptr<SchemeBody>* body;
    // The cancellable of the reads, watched once: the view uses one for the whole request.
    GCancellable* watched;
};

struct BodyStreamClass {
    GInputStreamClass parent;
};

GType bodyStreamType();

BodyStream* asBodyStream(gpointer object) {
    return G_TYPE_CHECK_INSTANCE_CAST(object, bodyStreamType(), BodyStream);
}

// The watch holds the body weakly and is never disconnected: disconnecting waits for a
// running handler, and the handler itself may drop the stream's last reference.
void readerCancelled(GCancellable*, gpointer data) {
    if (auto body = static_cast<std::weak_ptr<SchemeBody>*>(data)->lock()) body->stopReading();
}

void watch(BodyStream* stream, GCancellable* cancellable) {
    if (!cancellable || cancellable == stream->watched) return;
    if (stream->watched) g_object_unref(stream->watched);
    stream->watched = G_CANCELLABLE(g_object_ref(cancellable));
    // Runs at once when the cancellable is already cancelled.
    g_cancellable_connect(cancellable, G_CALLBACK(readerCancelled),
                          new std::weak_ptr<SchemeBody>(*stream->body), [](gpointer data) {
                              delete static_cast<std::weak_ptr<SchemeBody>*>(data);
                          });
}

gssize readSync(GInputStream* object, void* buffer, gsize count, GCancellable* cancellable,
                GError** error) {
    BodyStream* stream = asBodyStream(object);
    watch(stream, cancellable);
    SchemeBody::ReadError failure;
    const long got = *(*stream->body)->read(buffer, count, failure, true);
    if (got < 0) {
        g_set_error_literal(error, G_IO_ERROR,
                            failure.cancelled ? G_IO_ERROR_CANCELLED : G_IO_ERROR_FAILED,
                            failure.message.c_str());
    }
    return got;
}

void readAsync(GInputStream* object, void* buffer, gsize count, int priority,
               GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
    BodyStream* stream = asBodyStream(object);
    watch(stream, cancellable);
    GTask* task = g_task_new(object, cancellable, callback, data);
    g_task_set_priority(task, priority);
    SchemeBody::ReadError failure;
    if (auto got = (*stream->body)->read(buffer, count, failure, false)) {
        if (*got >= 0) {
            g_task_return_int(task, *got);
        } else {
            g_task_return_new_error(task, G_IO_ERROR,
                                    failure.cancelled ? G_IO_ERROR_CANCELLED : G_IO_ERROR_FAILED,
                                    "%s", failure.message.c_str());
        }
    } else {
        (*stream->body)->parkRead(task, buffer, count);
    }
    g_object_unref(task);
}

gssize readFinish(GInputStream*, GAsyncResult* result, GError** error) {
    return g_task_propagate_int(G_TASK(result), error);
}

gboolean closeSync(GInputStream* object, GCancellable*, GError**) {
    (*asBodyStream(object)->body)->stopReading();
    return TRUE;
}

void finalize(GObject* object) {
    BodyStream* stream = asBodyStream(object);
    if (stream->watched) g_object_unref(stream->watched);
    delete stream->body;
    G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->finalize(object);
}

void classInit(gpointer klass, gpointer) {
    G_OBJECT_CLASS(klass)->finalize = finalize;
    auto* streamClass = G_INPUT_STREAM_CLASS(klass);
    streamClass->read_fn = readSync;
    streamClass->read_async = readAsync;
    streamClass->read_finish = readFinish;
    streamClass->close_fn = closeSync;
}

GType bodyStreamType() {
    static const GType type = g_type_register_static_simple(
        G_TYPE_INPUT_STREAM, "OrvandelSchemeBodyStream", sizeof(BodyStreamClass), classInit,
        sizeof(BodyStream), nullptr, GTypeFlags(0));
    return type;
}

}  // namespace

GInputStream* makeSchemeBodyStream(std::shared_ptr<SchemeBody> body) {
    BodyStream* stream = asBodyStream(g_object_new(bodyStreamType(), nullptr));
    stream->body = new std::shared_ptr<SchemeBody>(std::move(body));
    return G_INPUT_STREAM(stream);
}

}  // namespace webkit
