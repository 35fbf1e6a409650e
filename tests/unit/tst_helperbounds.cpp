// The ARP helper's promises, kept whatever drives it, on a clock of the test's own: never more
// than 2,000 frames in any second, at most three requests to one address in any 10 s and 65,536
// addresses a run, answers to our requests told apart from what is heard, and what is heard
// bounded in lines and memory.
#include "helper/heardfilter.h"
#include "helper/ratelimiter.h"
#include "helper/sendqueue.h"

#include <QRandomGenerator>
#include <QTest>

#include <map>
#include <vector>

namespace {

constexpr std::int64_t kSecond = RateLimiter::kSecondNs;
constexpr std::int64_t kMs = kSecond / 1000;

// The most of times that lie within any span [t, t + span).
int mostWithin(const std::vector<std::int64_t> &times, std::int64_t span)
{
    int most = 0;
    for (std::size_t first = 0, last = 0; last < times.size(); ++last) {
        while (times[last] - times[first] >= span) {
            ++first;
        }
        most = std::max(most, int(last - first + 1));
    }
    return most;
}

} // namespace

class TestHelperBounds : public QObject
{
    Q_OBJECT

private slots:
    void frameRate_data();
    void frameRate();
    void requestWindow();
    void targets();
    void answers();
    void heard();
};

void TestHelperBounds::frameRate_data()
{
    // How the helper wakes: after a random gap up to longestGap, or when the limiter says a frame
    // may go (0); and how long it stays idle at each second's turn, which fills the bucket.
    QTest::addColumn<std::int64_t>("longestGap");
    QTest::addColumn<std::int64_t>("pause");
    QTest::newRow("wakes when due") << std::int64_t(0) << std::int64_t(0);
    QTest::newRow("wakes every microsecond or so") << 1000 * std::int64_t(1) << std::int64_t(0);
    QTest::newRow("late wake-ups, up to 4 ms") << 4 * kMs << std::int64_t(0);
    QTest::newRow("bursts after pauses of 300 ms") << 2 * kMs << 300 * kMs;
    QTest::newRow("bursts after pauses of 3 ms") << std::int64_t(0) << 3 * kMs;
}

void TestHelperBounds::frameRate()
{
    QFETCH(std::int64_t, longestGap);
    QFETCH(std::int64_t, pause);
    QRandomGenerator random(20261209);
    std::int64_t now = 5 * kSecond;
    RateLimiter limiter(RateLimiter::kFrameIntervalNs, RateLimiter::kFrameBurst, now);
    std::vector<std::int64_t> sent;
    // A limiter that lets everything through ends the run early, beyond 2,500 frames a second.
    for (const std::int64_t end = now + 20 * kSecond; now < end && sent.size() < 50000;) {
        for (int burst = 0; burst < 64 && limiter.take(now); ++burst) {
            sent.push_back(now);
        }
        const std::int64_t gap = longestGap ? std::int64_t(random.bounded(quint32(longestGap))) + 1
                                            : std::max<std::int64_t>(limiter.wait(now), 1);
        now += gap + (now / kSecond != (now + gap) / kSecond ? pause : 0);
    }
    const int most = mostWithin(sent, kSecond);
    QVERIFY2(most <= RateLimiter::kMaxFramesPerSecond, qPrintable(QString::number(most)));
    // Still near the rate, less the pauses: a limiter that sends nothing keeps no promise.
    const double busySeconds = 20.0 * (1.0 - double(pause) / kSecond);
    QVERIFY2(sent.size() > 0.95 * 1973 * busySeconds, qPrintable(QString::number(sent.size())));
}

void TestHelperBounds::requestWindow()
{
    // Random requests for a few addresses at random times; the queue drains only now and then,
    // so that their frames go late and close together.
    QRandomGenerator random(1);
    SendQueue queue;
    std::map<std::uint32_t, std::vector<std::int64_t>> sent;
    int refused = 0;
    std::uint32_t culprit = 0;
    for (std::int64_t step = 0, now = 0; step < 80000; ++step) {
        now += std::int64_t(random.bounded(1500)) * kMs;
        const std::uint32_t first = random.bounded(4u);
        refused += queue.add(first, first + random.bounded(2u), now, &culprit)
            != SendQueue::Added::Queued;
        while (!queue.isEmpty() && random.bounded(3) == 0) {
            sent[queue.front()].push_back(now);
            queue.pop(now);
        }
    }
    for (const auto &[address, times] : sent) {
        QVERIFY2(mostWithin(times, SendQueue::kWindowNs) <= int(SendQueue::kMaxRequests),
                 qPrintable(QString::number(address)));
    }
    QVERIFY(refused > 0);
    // A watch asks a known device about every 5 s for an hour; its frame goes within a second.
    SendQueue watch;
    for (std::int64_t at = 0; at < 3600 * kSecond; at += 5 * kSecond) {
        const std::int64_t asked = at + std::int64_t(random.bounded(200)) * kMs - 100 * kMs;
        QCOMPARE(watch.add(7, 7, asked, &culprit), SendQueue::Added::Queued);
        watch.pop(asked + std::int64_t(random.bounded(900)) * kMs);
    }
}

void TestHelperBounds::targets()
{
    SendQueue queue;
    std::uint32_t culprit = 0;
    QCOMPARE(queue.add(0x0b000000, 0x0b00ffff, 0, &culprit), SendQueue::Added::Queued);
    // One more distinct address is refused, and nothing of its request is queued; an address
    // asked already is not a new one.
    QCOMPARE(queue.add(0x0b00fffe, 0x0b010000, 0, &culprit), SendQueue::Added::TooManyTargets);
    QCOMPARE(culprit, 0x0b010000u);
    QCOMPARE(queue.add(0x0b000005, 0x0b000005, 0, &culprit), SendQueue::Added::Queued);
    int count = 0;
    for (; !queue.isEmpty(); ++count) {
        queue.pop(0);
    }
    QCOMPARE(count, 65537);
}

void TestHelperBounds::answers()
{
    using Answer = SendQueue::Answer;
    const ArpFrame::Mac a { 0x02, 0x06, 0, 0, 0, 0x10 };
    const ArpFrame::Mac b { 0xd0, 0xc8, 0, 0, 0, 0x11 };
    SendQueue queue;
    std::uint32_t culprit = 0;
    queue.add(10, 10, 0, &culprit);
    // Queued is not asked: a reply from it now is something heard.
    QCOMPARE(queue.answerFrom(10, a, 0), Answer::NotOurs);
    queue.pop(kSecond);
    QCOMPARE(queue.answerFrom(10, a, kSecond), Answer::New);
    QCOMPARE(queue.answerFrom(10, a, kSecond), Answer::Repeated);
    QCOMPARE(queue.answerFrom(10, b, kSecond), Answer::New); // a second device on the address
    QCOMPARE(queue.answerFrom(11, a, kSecond), Answer::NotOurs);
    // Each request gets its answers; forged ones get no more than their room.
    queue.add(10, 10, 5 * kSecond, &culprit);
    queue.pop(5 * kSecond);
    QCOMPARE(queue.answerFrom(10, a, 5 * kSecond), Answer::New);
    for (std::uint8_t made = 0; made < 10; ++made) {
        QCOMPARE(queue.answerFrom(10, { 0x02, 0, 0, 0, 0, made }, 6 * kSecond),
                 made < SendQueue::kMaxAnswers - 1 ? Answer::New : Answer::Repeated);
    }
    QCOMPARE(queue.answerFrom(10, b, 15 * kSecond - 1), Answer::Repeated);
    QCOMPARE(queue.answerFrom(10, b, 15 * kSecond), Answer::NotOurs);
}

void TestHelperBounds::heard()
{
    std::int64_t now = 3 * kSecond;
    HeardFilter filter(now);
    const ArpFrame::Mac device { 0x02, 0x06, 0, 0, 0, 0x10 };
    QVERIFY(filter.admit(10, device, now));
    QVERIFY(!filter.admit(10, device, now + 9 * kSecond));
    // 200,000 made-up senders in two seconds: the bucket and two seconds' rate pass, each once.
    int admitted = 0;
    int repeated = 0;
    for (std::uint32_t made = 0; made < 200000; ++made) {
        const ArpFrame::Mac mac {
            0x02, 0, std::uint8_t(made >> 16), std::uint8_t(made >> 8), std::uint8_t(made), 0
        };
        admitted += filter.admit(made, mac, now + std::int64_t(made) * 10000);
        repeated += filter.admit(made, mac, now + std::int64_t(made) * 10000);
    }
    QVERIFY2(admitted <= 3 * HeardFilter::kPerSecond, qPrintable(QString::number(admitted)));
    QVERIFY(admitted >= 2 * HeardFilter::kPerSecond);
    QCOMPARE(repeated, 0);
    // Once the repeat time is over, a device that went and came back is heard again.
    QVERIFY(filter.admit(10, device, now + HeardFilter::kRepeatAfterNs));
}

QTEST_APPLESS_MAIN(TestHelperBounds)
#include "tst_helperbounds.moc"
