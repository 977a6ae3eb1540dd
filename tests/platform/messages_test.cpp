// The simulated message queue: the order in which GetMessageW hands out sent,
// posted, quit and timer messages, timers, the synchronous messages of window
// creation and destruction, and the guards that stop a loop that would hang.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "probe.h"
#include "sim/desktop.h"

namespace {

using probe::DesktopTest;
using probe::Names;
using probe::Trace;
using Strings = std::vector<std::string>;

constexpr UINT kFirst = WM_APP + 10;
constexpr UINT kSecond = WM_APP + 11;
constexpr UINT kThird = WM_APP + 12;
constexpr UINT kSent = WM_APP + 20;

bool MisuseMentions(const std::string& text) {
    const auto& all = sim::Misuses();
    return std::any_of(all.begin(), all.end(), [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

std::vector<std::uint64_t> TimerTimes(UINT_PTR id) {
    std::vector<std::uint64_t> times;
    for (const probe::Delivery& d : Trace())
        if (d.message == WM_TIMER && d.wParam == id) times.push_back(d.timeMs);
    return times;
}

using MessageQueue = DesktopTest;

TEST_F(MessageQueue, CreationAndDestructionSendTheirMessagesNested) {
    HWND inner = nullptr;
    bool nested = false;
    probe::CurrentHook() = [&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        // A window made while another is being created: its messages nest
        // inside the outer WM_CREATE.
        if (message == WM_CREATE && !nested) {
            nested = true;
            inner = Make();
        }
        return std::nullopt;
    };
    HWND outer = Make();
    ASSERT_NE(outer, nullptr);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(Names(), (Strings{"WM_NCCREATE", "WM_CREATE", "WM_NCCREATE", "WM_CREATE"}));
    EXPECT_EQ(Trace()[1].window, outer);
    EXPECT_EQ(Trace()[2].window, inner);

    Trace().clear();
    bool aliveDuringDestroy = false;
    probe::CurrentHook() = [&](HWND window, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        sim::WindowView view;
        if (message == WM_NCDESTROY) aliveDuringDestroy = sim::ViewWindow(window, view);
        return std::nullopt;
    };
    EXPECT_TRUE(DestroyWindow(outer));
    EXPECT_EQ(Names(), (Strings{"WM_DESTROY", "WM_NCDESTROY"}));
    EXPECT_TRUE(aliveDuringDestroy) << "the handle stays valid through WM_NCDESTROY";
    sim::WindowView view;
    EXPECT_FALSE(sim::ViewWindow(outer, view));
    EXPECT_FALSE(DestroyWindow(outer));
    EXPECT_EQ(GetLastError(), 1400u);  // ERROR_INVALID_WINDOW_HANDLE
}

TEST_F(MessageQueue, CreationRefusedByTheWindowProcedureFails) {
    struct Row {
        const char* why;
        UINT refusing;
        LRESULT answer;
        Strings delivered;
    };
    const Row rows[] = {
        {"WM_NCCREATE answering FALSE stops before WM_CREATE", WM_NCCREATE, FALSE, {"WM_NCCREATE", "WM_NCDESTROY"}},
        {"WM_CREATE answering -1 destroys the half-made window", WM_CREATE, -1,
         {"WM_NCCREATE", "WM_CREATE", "WM_DESTROY", "WM_NCDESTROY"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Fresh(sim::DesktopConfig{});
        probe::CurrentHook() = [&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (message == row.refusing) return row.answer;
            return std::nullopt;
        };
        EXPECT_EQ(Make(), nullptr);
        EXPECT_EQ(Names(), row.delivered);
        EXPECT_TRUE(sim::RendererWindows().empty());
    }
}

TEST_F(MessageQueue, PostedMessagesComeInOrderAndQuitComesAfterThem) {
    HWND window = Make();
    ASSERT_TRUE(PostMessageW(window, kFirst, 1, 0));
    ASSERT_TRUE(PostMessageW(window, kSecond, 2, 0));
    PostQuitMessage(7);
    // Posted after the quit request, still retrieved before the quit message.
    ASSERT_TRUE(PostMessageW(window, kThird, 3, 0));
    MSG last{};
    EXPECT_EQ(Pump(&last), 0);
    EXPECT_EQ(last.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(last.wParam, 7u);
    EXPECT_EQ(Names(), (Strings{"WM_NCCREATE", "WM_CREATE", "WM_APP+10", "WM_APP+11", "WM_APP+12"}));
}

TEST_F(MessageQueue, SentMessageIsDeliveredBeforeWaitingPostedOnes) {
    HWND window = Make();
    probe::CurrentHook() = [&](HWND w, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        // While kSecond still waits in the queue, another process sends.
        if (message == kFirst) sim::At(sim::NowMs(), [w] { EXPECT_EQ(sim::SendFromOtherProcess(w, kSent, 0, 0), 42); });
        if (message == kSent) return 42;
        if (message == kSecond) PostQuitMessage(0);
        return std::nullopt;
    };
    PostMessageW(window, kFirst, 0, 0);
    PostMessageW(window, kSecond, 0, 0);
    EXPECT_EQ(Pump(), 0);
    EXPECT_EQ(Names(), (Strings{"WM_NCCREATE", "WM_CREATE", "WM_APP+10", "WM_APP+20", "WM_APP+11"}));
    ASSERT_EQ(sim::SentMessages().size(), 1u);
    EXPECT_EQ(sim::SentMessages()[0].result, 42);
    EXPECT_TRUE(sim::SentMessages()[0].delivered);
}

TEST_F(MessageQueue, PostedMessagesStarveADueTimer) {
    HWND window = Make();
    ASSERT_NE(SetTimer(window, 5, 100, nullptr), 0u);
    // At 100 ms the timer is due and another process posts a burst; each
    // message of the burst posts one more, so the queue is never empty until
    // the chain ends.
    int chain = 0;
    sim::At(100, [&] {
        for (int i = 0; i < 3; ++i) sim::PostFromOtherProcess(window, kFirst, 0, 0);
    });
    probe::CurrentHook() = [&](HWND w, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == kFirst && ++chain < 20) PostMessageW(w, kFirst, 0, 0);
        if (message == WM_TIMER) PostQuitMessage(0);
        return std::nullopt;
    };
    EXPECT_EQ(Pump(), 0);
    const Strings names = Names();
    const auto timer = std::find(names.begin(), names.end(), "WM_TIMER");
    ASSERT_NE(timer, names.end());
    EXPECT_EQ(std::count(names.begin(), timer, "WM_APP+10"), 22) << "every posted message goes first";
    EXPECT_EQ(TimerTimes(5), (std::vector<std::uint64_t>{100}));
}

TEST_F(MessageQueue, ScriptedEventsRunInTimeOrderBeforeTimersOfTheSameTime) {
    HWND window = Make();
    SetTimer(window, 1, 50, nullptr);
    std::vector<std::string> order;
    sim::At(50, [&] { order.push_back("b@50"); });
    sim::At(20, [&] { order.push_back("a@20"); });
    sim::At(50, [&] {
        order.push_back("c@50");
        sim::At(50, [&] { order.push_back("d@50 added by c"); });
    });
    probe::CurrentHook() = [&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_TIMER) {
            order.push_back("timer@" + std::to_string(sim::NowMs()));
            PostQuitMessage(0);
        }
        return std::nullopt;
    };
    EXPECT_EQ(Pump(), 0);
    EXPECT_EQ(order, (Strings{"a@20", "b@50", "c@50", "d@50 added by c", "timer@50"}));
    EXPECT_EQ(sim::PendingEvents(), 0u);
}

TEST_F(MessageQueue, WaitingWithNothingPendingStopsTheLoop) {
    Make();
    MSG msg{};
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), -1);
    EXPECT_TRUE(MisuseMentions("message loop would wait forever"));
    // The loop stays stopped: a program that ignores -1 cannot spin on it.
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), -1);
    EXPECT_EQ(sim::Misuses().size(), 1u);
}

TEST_F(MessageQueue, VirtualTimeLimitStopsAnEndlessTimerLoop) {
    sim::DesktopConfig config;
    config.virtualTimeLimitMs = 1000;
    Fresh(config);
    HWND window = Make();
    SetTimer(window, 2, 16, nullptr);
    EXPECT_EQ(Pump(), -1);
    // 62 ticks fit in the limit (62 x 16 = 992); the 63rd would be at 1008.
    EXPECT_EQ(TimerTimes(2).size(), 62u);
    EXPECT_EQ(TimerTimes(2).back(), 992u);
    EXPECT_TRUE(MisuseMentions("virtual time limit of 1000 ms"));
}

TEST_F(MessageQueue, MessagesWithoutWaitingStopAtTheirLimit) {
    sim::DesktopConfig config;
    config.maxMessagesWithoutWait = 50;
    Fresh(config);
    HWND window = Make();
    // A handler that posts itself again forever: time never advances.
    probe::CurrentHook() = [&](HWND w, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == kFirst) PostMessageW(w, kFirst, 0, 0);
        return std::nullopt;
    };
    PostMessageW(window, kFirst, 0, 0);
    EXPECT_EQ(Pump(), -1);
    const Strings names = Names();
    EXPECT_EQ(std::count(names.begin(), names.end(), "WM_APP+10"), 50);
    EXPECT_TRUE(MisuseMentions("50 messages without ever waiting"));
}

TEST_F(MessageQueue, PostedQuota) {
    HWND window = Make();
    for (int i = 0; i < 10000; ++i) ASSERT_TRUE(PostMessageW(window, kFirst, 0, 0)) << i;
    EXPECT_FALSE(PostMessageW(window, kFirst, 0, 0));
    EXPECT_EQ(GetLastError(), 1816u);  // ERROR_NOT_ENOUGH_QUOTA
}

TEST_F(MessageQueue, PostToAWindowThatIsGoneFails) {
    HWND window = Make();
    PostMessageW(window, kFirst, 0, 0);
    DestroyWindow(window);
    EXPECT_FALSE(PostMessageW(window, kSecond, 0, 0));
    EXPECT_EQ(GetLastError(), 1400u);
    // The message posted before the window died went with it.
    MSG msg{};
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), -1);
}

using Timers = DesktopTest;

TEST_F(Timers, SettingATimerAgainRestartsItsPeriod) {
    HWND window = Make();
    SetTimer(window, 1, 100, nullptr);
    sim::At(60, [&] { SetTimer(window, 1, 100, nullptr); });
    probe::CurrentHook() = [&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_TIMER && TimerTimes(1).size() == 2) PostQuitMessage(0);
        return std::nullopt;
    };
    EXPECT_EQ(Pump(), 0);
    EXPECT_EQ(TimerTimes(1), (std::vector<std::uint64_t>{160, 260}));
}

TEST_F(Timers, TimerEndsWithKillTimerOrWithItsWindow) {
    struct Row {
        const char* why;
        bool destroyWindow;
    };
    for (const Row& row : {Row{"KillTimer", false}, Row{"the window destroyed", true}}) {
        SCOPED_TRACE(row.why);
        Fresh(sim::DesktopConfig{});
        HWND window = Make();
        SetTimer(window, 9, 20, nullptr);
        sim::At(50, [&] {
            if (row.destroyWindow)
                DestroyWindow(window);
            else
                EXPECT_TRUE(KillTimer(window, 9));
        });
        EXPECT_EQ(Pump(), -1) << "nothing left to wait for";
        EXPECT_EQ(TimerTimes(9), (std::vector<std::uint64_t>{20, 40}));
        EXPECT_TRUE(MisuseMentions("would wait forever"));
    }
}

TEST_F(Timers, KillingATimerThatDoesNotRunFails) {
    HWND window = Make();
    EXPECT_FALSE(KillTimer(window, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(Timers, TimerWithCallbackIsDispatchedToTheCallback) {
    static std::vector<UINT_PTR> calls;
    calls.clear();
    HWND window = Make();
    const TIMERPROC callback = [](HWND, UINT, UINT_PTR id, DWORD) {
        calls.push_back(id);
        PostQuitMessage(0);
    };
    SetTimer(window, 4, 30, callback);
    EXPECT_EQ(Pump(), 0);
    EXPECT_EQ(calls, (std::vector<UINT_PTR>{4}));
    EXPECT_TRUE(TimerTimes(4).empty()) << "the window procedure does not see it";
}

TEST_F(Timers, SetTimerOnAWindowOfAnotherProcessFails) {
    const DWORD game = sim::SpawnProcess();
    HWND foreign = sim::CreateForeignWindow(game, L"Mabinogi", L"Mabinogi", RECT{0, 0, 10, 10}, RECT{0, 0, 10, 10});
    EXPECT_EQ(SetTimer(foreign, 1, 100, nullptr), 0u);
    EXPECT_EQ(GetLastError(), 5u);  // ERROR_ACCESS_DENIED
}

}  // namespace
