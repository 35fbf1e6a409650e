// The ARP helper's promises, kept whatever its driver asks, checked on a clock of the test's own:
// never more than 2,000 frames in any second, at most three requests to one address in any 10 s
// and 65,536 addresses a run, answers to our requests told apart from what is heard, and what is
// heard bounded in lines and memory.
#include "helper/heardfilter.h"
#include "helper/ratelimiter.h"
#include "helper/sendqueue.h"

#include <QRandomGenerator>
#include <QTest>

#include <deque>
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
    void requestWindow_data();
    void requestWindow();
    void targets();
    void answers();
    void heard();
};

void TestHelperBounds::frameRate_data()
{
    // How the helper wakes: at most this long between two looks at the limiter (a random gap up
    // to it), or at once when the limiter says a frame may go; and how long it pauses, idle,
    // every second of the run (a pause lets the bucket fill for a burst).
    QTest::addColumn<std::int64_t>("longestGap");
    QTest::addColumn<std::int64_t>("pauseEverySecond");
    QTest::newRow("wakes when due") << std::int64_t(0) << std::int64_t(0);
    QTest::newRow("wakes every microsecond or so") << 1000 * std::int64_t(1) << std::int64_t(0);
    QTest::newRow("late wake-ups, up to 4 ms") << 4 * kMs << std::int64_t(0);
    QTest::newRow("bursts after pauses of 300 ms") << 2 * kMs << 300 * kMs;
    QTest::newRow("bursts after pauses of 3 ms") << 0 * kMs << 3 * kMs;
}

void TestHelperBounds::frameRate()
{
    QFETCH(std::int64_t, longestGap);
    QFETCH(std::int64_t, pauseEverySecond);
    QRandomGenerator random(20261209);
    std::int64_t now = 5 * kSecond;
    RateLimiter limiter(RateLimiter::kFrameIntervalNs, RateLimiter::kFrameBurst, now);
    std::vector<std::int64_t> sent;
    const std::int64_t end = now + 20 * kSecond;
    // A limiter that lets everything through ends the run early, beyond 2,500 frames a second.
    while (now < end && sent.size() < 50000) {
        for (int burst = 0; burst < 64 && limiter.take(now); ++burst) {
            sent.push_back(now);
        }
        const std::int64_t gap = longestGap ? std::int64_t(random.bounded(quint32(longestGap))) + 1
                                            : limiter.wait(now);
        const bool pause = pauseEverySecond && (now / kSecond != (now + gap) / kSecond);
        now += std::max<std::int64_t>(gap, 1) + (pause ? pauseEverySecond : 0);
    }
    QVERIFY2(mostWithin(sent, kSecond) <= RateLimiter::kMaxFramesPerSecond,
             qPrintable(QString::number(mostWithin(sent, kSecond))));
    // Still near the rate, less the pauses: a limiter that sends nothing keeps no promise.
    const double busySeconds = 20.0 * (1.0 - double(pauseEverySecond) / kSecond);
    QVERIFY2(sent.size() > 0.95 * 1973 * busySeconds, qPrintable(QString::number(sent.size())));
}

void TestHelperBounds::requestWindow_data()
{
    QTest::addColumn<quint32>("seed");
    // Each row: random requests for a few addresses at random times, sent after random delays.
    for (const quint32 seed : { 1u, 2u, 3u, 4u }) {
        QTest::addRow("random requests %u", seed) << seed;
    }
}

void TestHelperBounds::requestWindow()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    SendQueue queue;
    std::map<std::uint32_t, std::vector<std::int64_t>> sent;
    int refused = 0;
    std::int64_t now = 0;
    for (int step = 0; step < 20000; ++step) {
        now += std::int64_t(random.bounded(1500)) * kMs;
        std::uint32_t culprit = 0;
        const std::uint32_t first = random.bounded(4u);
        const std::uint32_t last = first + random.bounded(2u);
        refused += queue.add(first, last, now, &culprit) != SendQueue::Added::Queued;
        // The queue only drains now and then, so that sends come late and close together.
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
        std::uint32_t culprit = 0;
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
    std::int64_t count = 0;
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
    // Each request gets its answers, however often the same device gives them.
    queue.add(10, 10, 5 * kSecond, &culprit);
    queue.pop(5 * kSecond);
    QCOMPARE(queue.answerFrom(10, a, 5 * kSecond), Answer::New);
    for (std::uint8_t made = 0; made < 10; ++made) {
        const ArpFrame::Mac forged { 0x02, 0, 0, 0, 0, made };
        QCOMPARE(queue.answerFrom(10, forged, 6 * kSecond),
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
    // A flood of made-up senders, 200,000 in two seconds: the rate lets through its bucket and
    // its share of those seconds, and a made-up pair is not let through twice.
    int admitted = 0;
    int repeated = 0;
    for (std::uint32_t made = 0; made < 200000; ++made) {
        const ArpFrame::Mac mac {
            0x02, 0, std::uint8_t(made >> 16), std::uint8_t(made >> 8), std::uint8_t(made), 0
        };
        const std::int64_t at = now + std::int64_t(made) * 10000;
        admitted += filter.admit(made, mac, at);
        repeated += filter.admit(made, mac, at);
    }
    QVERIFY2(admitted <= 3 * HeardFilter::kPerSecond, qPrintable(QString::number(admitted)));
    QVERIFY(admitted >= 2 * HeardFilter::kPerSecond);
    QCOMPARE(repeated, 0);
    // Once the repeat time is over, a device that went and came back is heard again.
    now += HeardFilter::kRepeatAfterNs;
    QVERIFY(filter.admit(10, device, now));
}

QTEST_APPLESS_MAIN(TestHelperBounds)
#include "tst_helperbounds.moc"
