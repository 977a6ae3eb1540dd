// Forced into every GoogleTest compile of the Windows cross build.
//
// GoogleTest's own Notification is built on std::mutex, which the win32
// thread model of Debian's mingw-w64 g++ 12 does not provide. GoogleTest
// uses Notification only to start threads of its own thread helpers, which
// our suites never do, so a flag that the waiter spins on is enough.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
    void Notify() { notified_.store(true, std::memory_order_release); }

    void WaitForNotification() {
        while (!notified_.load(std::memory_order_acquire)) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
