// What a mount that nobody attends answers GVfs's requests.
#include "platform/linux/silent_mount_operation.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using platform::linux_gio::silentMountOperation;

struct Answer {
    std::optional<GMountOperationResult> result;
    int replies { 0 };
    bool anonymous { false };
};

void recordReply(GMountOperation*, GMountOperationResult result, gpointer data)
{
    auto* answer = static_cast<Answer*>(data);
    answer->result = result;
    ++answer->replies;
}

// Also runs what GIO may have queued on the main loop for the request.
void runMainLoopDry()
{
    while (g_main_context_iteration(nullptr, FALSE)) { }
}

Answer askPassword(GMountOperation* operation, int flags)
{
    Answer answer;
    auto handler = g_signal_connect(operation, "reply", G_CALLBACK(recordReply), &answer);
    g_signal_emit_by_name(operation, "ask-password", "Password?", "", "", static_cast<GAskPasswordFlags>(flags));
    runMainLoopDry();
    EXPECT_EQ(answer.replies, 1);
    g_signal_handler_disconnect(operation, handler);
    answer.anonymous = g_mount_operation_get_anonymous(operation);
    return answer;
}

constexpr int kCredentials = G_ASK_PASSWORD_NEED_PASSWORD | G_ASK_PASSWORD_NEED_USERNAME | G_ASK_PASSWORD_NEED_DOMAIN;

TEST(SilentMountOperation, AnswersAsGuestOnlyWhereOfferedAndOnlyOnce)
{
    auto operation = silentMountOperation();
    auto credentials = askPassword(operation.get(), kCredentials);
    EXPECT_EQ(credentials.result, G_MOUNT_OPERATION_ABORTED);
    EXPECT_FALSE(credentials.anonymous);

    auto guest = askPassword(operation.get(), kCredentials | G_ASK_PASSWORD_ANONYMOUS_SUPPORTED);
    EXPECT_EQ(guest.result, G_MOUNT_OPERATION_HANDLED);
    EXPECT_TRUE(guest.anonymous);
    // Asked again, the server turned the guest away.
    EXPECT_EQ(askPassword(operation.get(), kCredentials | G_ASK_PASSWORD_ANONYMOUS_SUPPORTED).result,
        G_MOUNT_OPERATION_ABORTED);
}

TEST(SilentMountOperation, AbortsEveryQuestion)
{
    auto operation = silentMountOperation();
    Answer answer;
    g_signal_connect(operation.get(), "reply", G_CALLBACK(recordReply), &answer);
    const char* choices[] = { "Log In Anyway", "Cancel", nullptr };
    g_signal_emit_by_name(operation.get(), "ask-question", "Unknown host key. Continue?", choices);
    runMainLoopDry();
    EXPECT_EQ(answer.result, G_MOUNT_OPERATION_ABORTED);
    EXPECT_EQ(answer.replies, 1);
}

} // namespace
