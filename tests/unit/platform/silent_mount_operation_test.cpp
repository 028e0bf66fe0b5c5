// What a mount that nobody attends answers GVfs's password requests. The
// real guest share is in the integration tests; here, what they cannot see.
#include "platform/linux/volume_mounting/silent_mount_operation.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int kCredentials = G_ASK_PASSWORD_NEED_PASSWORD | G_ASK_PASSWORD_NEED_USERNAME | G_ASK_PASSWORD_NEED_DOMAIN;

// Every reply the request got, GIO's own queued ones included.
std::vector<GMountOperationResult> repliesTo(GMountOperation* operation, int flags)
{
    std::vector<GMountOperationResult> replies;
    auto record = +[](GMountOperation*, GMountOperationResult result, gpointer list) {
        static_cast<std::vector<GMountOperationResult>*>(list)->push_back(result);
    };
    auto handler = g_signal_connect(operation, "reply", G_CALLBACK(record), &replies);
    g_signal_emit_by_name(operation, "ask-password", "Password?", "", "", static_cast<GAskPasswordFlags>(flags));
    while (g_main_context_iteration(nullptr, FALSE)) { }
    g_signal_handler_disconnect(operation, handler);
    return replies;
}

TEST(SilentMountOperation, AnswersOnceAndAsGuestOnlyWhereOfferedAndOnlyTheFirstTime)
{
    using Replies = std::vector<GMountOperationResult>;
    auto operation = platform::linux_gio::silentMountOperation();
    EXPECT_EQ(repliesTo(operation.get(), kCredentials), Replies { G_MOUNT_OPERATION_ABORTED });
    EXPECT_FALSE(g_mount_operation_get_anonymous(operation.get()));
    EXPECT_EQ(repliesTo(operation.get(), kCredentials | G_ASK_PASSWORD_ANONYMOUS_SUPPORTED),
        Replies { G_MOUNT_OPERATION_HANDLED });
    EXPECT_TRUE(g_mount_operation_get_anonymous(operation.get()));
    // Asked again, the server turned the guest away.
    EXPECT_EQ(repliesTo(operation.get(), kCredentials | G_ASK_PASSWORD_ANONYMOUS_SUPPORTED),
        Replies { G_MOUNT_OPERATION_ABORTED });
}

} // namespace
