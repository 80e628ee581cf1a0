// The notice queue between a port's threads and the main thread, under several producers at once.
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include "serial/Mailbox.h"
#include "tests/support/Wait.h"

namespace serialtest {
namespace {

using namespace std::chrono_literals;

const auto kWakeType = static_cast<QEvent::Type>(QEvent::registerEventType());

// Drains the mailbox on every wake-up, as the component does.
class Drain : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() != kWakeType) {
            return QObject::event(e);
        }
        ++wakeUps;
        mailbox->beginDelivery();
        while (serial::NoticePtr notice = mailbox->take()) {
            taken.push_back(notice->value);
        }
        return true;
    }
    serial::Mailbox* mailbox = nullptr;
    int wakeUps = 0;
    std::vector<uint32_t> taken;
};

// Producers post numbered notices, some holding the wake-up back as the reader does for full blocks;
// every notice arrives once, each producer's in its own order, and wake-ups stay fewer than notices.
TEST(Mailbox, EveryNoticeOfEveryThreadArrivesOnceInItsThreadsOrder) {
    constexpr uint32_t kThreads = 3;
    constexpr uint32_t kPerThread = 20000;
    Drain drain;
    serial::Mailbox mailbox(&drain, kWakeType);
    drain.mailbox = &mailbox;
    std::vector<std::thread> producers;
    for (uint32_t t = 0; t < kThreads; ++t) {
        producers.emplace_back([&mailbox, t] {
            for (uint32_t i = 0; i < kPerThread; ++i) {
                serial::NoticePtr notice = serial::makeNotice(serial::NoticeKind::ReceiveData, 16);
                notice->value = t << 24 | i;
                notice->bytes()[0] = static_cast<uint8_t>(i); // the bytes behind the notice are usable
                mailbox.post(std::move(notice), i % 4 == 3);
            }
            mailbox.wakeUp();
        });
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return drain.taken.size() == kThreads * kPerThread; }, 20000ms));
    for (auto& producer : producers) {
        producer.join();
    }
    testsupport::pumpFor(20ms);
    ASSERT_EQ(drain.taken.size(), kThreads * kPerThread);
    std::vector<uint32_t> next(kThreads, 0);
    for (uint32_t value : drain.taken) {
        const uint32_t thread = value >> 24;
        ASSERT_LT(thread, kThreads);
        ASSERT_EQ(value & 0xFFFFFF, next[thread]) << "thread " << thread;
        ++next[thread];
    }
    EXPECT_LT(drain.wakeUps, static_cast<int>(kThreads * kPerThread));
}

// What nobody took is freed with the mailbox, and a detached mailbox posts no wake-up.
TEST(Mailbox, DetachedMailboxWakesNobodyAndFreesWhatItHolds) {
    Drain drain;
    {
        serial::Mailbox mailbox(&drain, kWakeType);
        drain.mailbox = &mailbox;
        mailbox.detach();
        for (int i = 0; i < 10; ++i) {
            mailbox.post(serial::makeNotice(serial::NoticeKind::ReceiveData, 2049));
        }
        testsupport::pumpFor(20ms);
        EXPECT_EQ(drain.wakeUps, 0);
    } // ASan's leak check sees the ten blocks freed
    EXPECT_TRUE(drain.taken.empty());
}

} // namespace
} // namespace serialtest
