#include "qlib/qsys/threadmessagequeue.h"

#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qlib/qsys/currentthread.h"

namespace qsys {
namespace {

TEST(ThreadMessageQueue, MessagesArriveInOrderUntilQuitEndsTheLoop) {
    std::promise<uint32_t> loopThread;
    std::vector<ThreadMessage> received;
    ThreadMessage quit;
    std::thread loop([&] {
        ThreadMessageQueue& queue = ThreadMessageQueue::Current();
        loopThread.set_value(GetCurrentThreadId());
        ThreadMessage message;
        while (queue.Get(message)) {
            received.push_back(message);
        }
        quit = message;
    });
    const uint32_t id = loopThread.get_future().get();
    for (uint32_t i = 0; i < 50; ++i) {
        ASSERT_EQ(ThreadMessageQueue::Post(id, {WM_USER + i, i, -static_cast<int64_t>(i)}),
                  PostResult::Posted);
    }
    ASSERT_EQ(ThreadMessageQueue::Post(id, {WM_ENDSESSION, 1, 0}), PostResult::Posted);
    ASSERT_EQ(ThreadMessageQueue::Post(id, {WM_QUIT, 3, 0}), PostResult::Posted);
    loop.join();

    ASSERT_EQ(received.size(), 51u);
    for (uint32_t i = 0; i < 50; ++i) {
        EXPECT_EQ(received[i].message, WM_USER + i);
        EXPECT_EQ(received[i].lParam, -static_cast<int64_t>(i));
    }
    EXPECT_EQ(received.back().message, WM_ENDSESSION);
    EXPECT_EQ(quit.message, WM_QUIT);
    EXPECT_EQ(quit.wParam, 3u);
    EXPECT_EQ(ThreadMessageQueue::Post(id, {WM_USER, 0, 0}), PostResult::NoQueue)
        << "the thread has ended";
}

TEST(ThreadMessageQueue, PostingNeedsAQueueWithRoom) {
    uint32_t withoutQueue = 0;
    std::thread([&] { withoutQueue = GetCurrentThreadId(); }).join();
    EXPECT_EQ(ThreadMessageQueue::Post(withoutQueue, {WM_USER, 0, 0}), PostResult::NoQueue);

    ThreadMessageQueue& own = ThreadMessageQueue::Current();
    for (size_t i = 0; i < ThreadMessageQueue::k_maxMessages; ++i) {
        ASSERT_EQ(ThreadMessageQueue::Post(GetCurrentThreadId(), {WM_USER, i, 0}),
                  PostResult::Posted);
    }
    EXPECT_EQ(ThreadMessageQueue::Post(GetCurrentThreadId(), {WM_USER, 0, 0}),
              PostResult::QueueFull);
    ThreadMessageQueue::PostQuit(-1);
    size_t taken = 0;
    while (const std::optional<ThreadMessage> message = own.Peek()) {
        ++taken;
        if (message->message == WM_QUIT) {
            EXPECT_EQ(static_cast<int64_t>(message->wParam), -1);
        }
    }
    EXPECT_EQ(taken, ThreadMessageQueue::k_maxMessages + 1) << "the quit message always fits";
}

}  // namespace
}  // namespace qsys
