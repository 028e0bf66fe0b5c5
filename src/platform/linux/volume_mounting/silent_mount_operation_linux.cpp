#include "platform/linux/volume_mounting/silent_mount_operation.h"

namespace platform::linux_gio {
namespace {

constexpr const char* kAnsweredAnonymously = "ferrowind-answered-anonymously";

// GIO's own handler, which runs after ours, would queue a second reply on
// the main thread's loop, while we run on another thread.
void replyOnly(GMountOperation* operation, const char* signal, GMountOperationResult result)
{
    g_signal_stop_emission_by_name(operation, signal);
    g_mount_operation_reply(operation, result);
}

void answerPassword(GMountOperation* operation, gchar*, gchar*, gchar*, GAskPasswordFlags flags, gpointer)
{
    bool offersAnonymous = (flags & G_ASK_PASSWORD_ANONYMOUS_SUPPORTED) != 0;
    if (!offersAnonymous || g_object_get_data(G_OBJECT(operation), kAnsweredAnonymously))
        return replyOnly(operation, "ask-password", G_MOUNT_OPERATION_ABORTED);
    g_object_set_data(G_OBJECT(operation), kAnsweredAnonymously, GINT_TO_POINTER(1));
    g_mount_operation_set_anonymous(operation, TRUE);
    replyOnly(operation, "ask-password", G_MOUNT_OPERATION_HANDLED);
}

void refuseQuestion(GMountOperation* operation, gchar*, gchar**, gpointer)
{
    replyOnly(operation, "ask-question", G_MOUNT_OPERATION_ABORTED);
}

} // namespace

GObjectPtr<GMountOperation> silentMountOperation()
{
    GObjectPtr<GMountOperation> operation(g_mount_operation_new());
    g_signal_connect(operation.get(), "ask-password", G_CALLBACK(answerPassword), nullptr);
    g_signal_connect(operation.get(), "ask-question", G_CALLBACK(refuseQuestion), nullptr);
    return operation;
}

} // namespace platform::linux_gio
