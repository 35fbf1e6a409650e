#include "arpengine.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>

Q_LOGGING_CATEGORY(lcArp, "lumisweep.arp")

namespace {

const char *const kInstalledHelper = "/usr/libexec/lumisweep/lumisweep-arp";
// The helper's longest line is well below this; anything longer is not from it.
constexpr int kMaxLine = 256;
constexpr int kStopWaitMs = 1000;
constexpr quint64 kMaxLineAddresses = 65536;

// For the log and the reason: printable ASCII as is, every other byte as \xHH, bounded.
QString quoted(const QByteArray &bytes)
{
    constexpr int kShown = 120;
    QString text = QStringLiteral("\"");
    for (const char c : bytes.left(kShown)) {
        const auto byte = uchar(c);
        if (byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\') {
            text += QLatin1Char(c);
        } else {
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        }
    }
    return text + (bytes.size() > kShown ? QStringLiteral("\"...") : QStringLiteral("\""));
}

bool isDecimal(const QByteArray &text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits || (text.size() > 1 && text.at(0) == '0')) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

std::optional<quint32> parseAddress(const QByteArray &text)
{
    const QList<QByteArray> groups = text.split('.');
    if (groups.size() != 4) {
        return std::nullopt;
    }
    quint32 address = 0;
    for (const QByteArray &group : groups) {
        if (!isDecimal(group, 3) || group.toUInt() > 255) {
            return std::nullopt;
        }
        address = address << 8 | group.toUInt();
    }
    return address;
}

QByteArray formatAddress(quint32 address)
{
    return QByteArray::number(address >> 24) + '.' + QByteArray::number(address >> 16 & 0xff) + '.'
        + QByteArray::number(address >> 8 & 0xff) + '.' + QByteArray::number(address & 0xff);
}

// Six upper-case hex pairs joined by '-', as the helper writes them.
std::optional<QByteArray> parseMac(const QByteArray &text)
{
    if (text.size() != 17) {
        return std::nullopt;
    }
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        const bool ok = i % 3 == 2 ? c == '-' : (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (!ok) {
            return std::nullopt;
        }
    }
    return QByteArray::fromHex(QByteArray(text).replace('-', QByteArray()));
}

} // namespace

ArpEngine::ArpEngine(QObject *parent) : QObject(parent), m_helperPath(defaultHelperPath()) { }

ArpEngine::~ArpEngine()
{
    stop();
}

QString ArpEngine::defaultHelperPath()
{
    const QString beside
        = QCoreApplication::applicationDirPath() + QStringLiteral("/lumisweep-arp");
    return QFileInfo(beside).isExecutable() ? beside : QString::fromLatin1(kInstalledHelper);
}

void ArpEngine::setHelperPath(const QString &path)
{
    m_helperPath = path;
}

void ArpEngine::start(const QString &interfaceName, quint32 source)
{
    stop();
    m_source = source;
    m_ready = false;
    m_process = new QProcess(this);
    // Only its crash reports go there, worth seeing as they come.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &ArpEngine::readReports);
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this](int code, QProcess::ExitStatus status) {
                readReports();
                if (m_process) {
                    fail(status == QProcess::CrashExit
                             ? QStringLiteral("the ARP helper crashed")
                             : QStringLiteral("the ARP helper exited with status %1").arg(code));
                }
            });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            fail(QStringLiteral("cannot start the ARP helper %1: %2")
                     .arg(m_helperPath, m_process->errorString()));
        }
    });
    m_process->start(m_helperPath, { interfaceName, QString::fromLatin1(formatAddress(source)) });
}

void ArpEngine::send(quint32 first, quint32 last)
{
    if (!m_process || first > last) {
        return;
    }
    // The helper takes at most a /16 per line.
    for (quint64 from = first; from <= last; from += kMaxLineAddresses) {
        const auto to = quint32(qMin<quint64>(last, from + kMaxLineAddresses - 1));
        const QByteArray line = from == to
            ? "send " + formatAddress(quint32(from)) + '\n'
            : "send " + formatAddress(quint32(from)) + '-' + formatAddress(to) + '\n';
        m_process->write(line);
    }
}

void ArpEngine::setRate(int framesPerSecond)
{
    if (m_process) {
        m_process->write("rate " + QByteArray::number(qBound(1, framesPerSecond, kMaxRate)) + '\n');
    }
}

void ArpEngine::stop()
{
    end(true);
}

void ArpEngine::end(bool gently)
{
    if (!m_process) {
        return;
    }
    QProcess *process = m_process;
    m_process = nullptr;
    process->disconnect(this);
    // The end of its input is the helper's signal to leave; it polls for it at all times. One
    // that broke its protocol gets no second.
    process->closeWriteChannel();
    if (!gently || !process->waitForFinished(kStopWaitMs)) {
        process->kill();
        process->waitForFinished(kStopWaitMs);
    }
    // Not at once: stop() may run inside one of the process's own signals.
    process->deleteLater();
}

void ArpEngine::readReports()
{
    while (m_process) {
        const QByteArray pending = m_process->peek(kMaxLine + 1);
        const int end = pending.indexOf('\n');
        if (end < 0) {
            if (pending.size() > kMaxLine) {
                fail(QStringLiteral("the ARP helper wrote a line too long: %1")
                         .arg(quoted(pending)));
            }
            return;
        }
        const QByteArray line = m_process->read(end + 1).left(end);
        const std::optional<Report> report = parseReport(line);
        // "ready" first and once; only an error may come before it.
        if (!report
            || (report->kind != Report::Kind::Error
                && (report->kind == Report::Kind::Ready) == m_ready)) {
            fail(QStringLiteral("the ARP helper wrote %1").arg(quoted(line)));
            return;
        }
        switch (report->kind) {
        case Report::Kind::Ready:
            if (report->address != m_source) {
                fail(QStringLiteral("the ARP helper is ready on another address: %1")
                         .arg(quoted(line)));
                return;
            }
            m_ready = true;
            emit ready(report->mac);
            break;
        case Report::Kind::Reply:
            emit replied(report->address, report->mac);
            break;
        case Report::Kind::Heard:
            emit heard(report->address, report->mac);
            break;
        case Report::Kind::Idle:
            emit idle();
            break;
        case Report::Kind::Error:
            fail(QStringLiteral("the ARP helper failed: %1").arg(quoted(report->text.toLatin1())));
            return;
        }
    }
}

void ArpEngine::fail(const QString &reason)
{
    // Before "ready" this is the usual way to learn that the kernel path must do: no warning.
    qCDebug(lcArp).noquote() << reason;
    end(false);
    emit failed(reason);
}

std::optional<ArpEngine::Report> ArpEngine::parseReport(const QByteArray &line)
{
    Report report;
    if (line == "idle") {
        report.kind = Report::Kind::Idle;
        return report;
    }
    if (line.startsWith("error ") && line.size() > 6) {
        for (const char c : line) {
            if (uchar(c) < 0x20 || uchar(c) >= 0x7f) {
                return std::nullopt;
            }
        }
        report.kind = Report::Kind::Error;
        report.text = QString::fromLatin1(line.mid(6));
        return report;
    }
    const QList<QByteArray> words = line.split(' ');
    if (words.size() != 3) {
        return std::nullopt;
    }
    const bool ready = words.at(0) == "ready";
    if (ready) {
        report.kind = Report::Kind::Ready;
    } else if (words.at(0) == "reply") {
        report.kind = Report::Kind::Reply;
    } else if (words.at(0) == "heard") {
        report.kind = Report::Kind::Heard;
    } else {
        return std::nullopt;
    }
    const std::optional<quint32> address = parseAddress(words.at(ready ? 2 : 1));
    const std::optional<QByteArray> mac = parseMac(words.at(ready ? 1 : 2));
    if (!address || !mac) {
        return std::nullopt;
    }
    report.address = *address;
    report.mac = *mac;
    return report;
}
