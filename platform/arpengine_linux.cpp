#include "arpengine.h"

#include "base/ipv4text.h"
#include "base/logtext.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>

#include <algorithm>

Q_LOGGING_CATEGORY(lcArp, "lumisweep.arp")

namespace {

const char *const kInstalledHelper = "/usr/libexec/lumisweep/lumisweep-arp";
// The helper's longest line is well below this; anything longer is not from it.
constexpr int kMaxLine = 256;
constexpr int kStopWaitMs = 1000;
constexpr quint64 kMaxLineAddresses = 65536;

// The helper writes each address in its one spelling, without leading zeros.
std::optional<quint32> parseAddress(const QByteArray &text)
{
    const std::optional<quint32> address = Ipv4Text::parse(QString::fromLatin1(text));
    return address && Ipv4Text::format(*address).toLatin1() == text ? address : std::nullopt;
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

// "error KIND TEXT": a known kind, then printable ASCII.
std::optional<ArpEngine::Report> parseError(const QByteArray &line)
{
    using Error = ArpEngine::Report::Error;
    static const QList<QPair<QByteArray, Error>> kinds {
        { "refused", Error::Refused },
        { "unavailable", Error::Unavailable },
        { "lost", Error::Lost },
        { "failed", Error::Failed },
    };
    const QByteArray kind = line.mid(6).split(' ').value(0);
    const QByteArray text = line.mid(6 + kind.size() + 1);
    const auto known = std::find_if(kinds.cbegin(), kinds.cend(),
                                    [&kind](const auto &entry) { return entry.first == kind; });
    const bool printable = std::all_of(line.cbegin(), line.cend(),
                                       [](char c) { return uchar(c) >= 0x20 && uchar(c) < 0x7f; });
    if (!line.startsWith("error ") || known == kinds.cend() || text.isEmpty() || !printable
        || line.at(6 + kind.size()) != ' ') {
        return std::nullopt;
    }
    ArpEngine::Report report;
    report.kind = ArpEngine::Report::Kind::Error;
    report.error = known->second;
    report.text = QString::fromLatin1(text);
    return report;
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
                    fail(m_ready ? Failure::Broken : Failure::Unavailable,
                         status == QProcess::CrashExit
                             ? QStringLiteral("the ARP helper crashed")
                             : QStringLiteral("the ARP helper exited with status %1").arg(code));
                }
            });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            fail(Failure::Unavailable,
                 QStringLiteral("cannot start the ARP helper %1: %2")
                     .arg(m_helperPath, m_process->errorString()));
        }
    });
    m_process->start(m_helperPath, { interfaceName, Ipv4Text::format(source) });
}

void ArpEngine::send(quint32 first, quint32 last)
{
    if (!m_process || first > last) {
        return;
    }
    // The helper takes at most a /16 per line.
    for (quint64 from = first; from <= last; from += kMaxLineAddresses) {
        const auto to = quint32(qMin<quint64>(last, from + kMaxLineAddresses - 1));
        QString line = QStringLiteral("send ") + Ipv4Text::format(quint32(from));
        if (to != from) {
            line += QLatin1Char('-') + Ipv4Text::format(to);
        }
        m_process->write(line.toLatin1() + '\n');
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
                fail(Failure::Broken,
                     QStringLiteral("the ARP helper wrote a line too long: %1")
                         .arg(LogText::quoted(pending)));
            }
            return;
        }
        const QByteArray line = m_process->read(end + 1).left(end);
        const std::optional<Report> report = parseReport(line);
        // "ready" first and once; only an error may come before it.
        if (!report
            || (report->kind != Report::Kind::Error
                && (report->kind == Report::Kind::Ready) == m_ready)) {
            fail(Failure::Broken,
                 QStringLiteral("the ARP helper wrote %1").arg(LogText::quoted(line)));
            return;
        }
        if (!handle(*report, line)) {
            return;
        }
    }
}

bool ArpEngine::handle(const Report &report, const QByteArray &line)
{
    switch (report.kind) {
    case Report::Kind::Ready:
        if (report.address != m_source) {
            fail(Failure::Broken,
                 QStringLiteral("the ARP helper is ready on another address: %1")
                     .arg(LogText::quoted(line)));
            return false;
        }
        m_ready = true;
        emit ready(report.mac);
        break;
    case Report::Kind::Reply:
        emit replied(report.address, report.mac);
        break;
    case Report::Kind::Heard:
        emit heard(report.address, report.mac);
        break;
    case Report::Kind::Idle:
        emit idle();
        break;
    case Report::Kind::Error:
        // Its error line is its last: it exits on its own right after.
        fail(report.error == Report::Error::Lost ? Failure::LinkLost
                 : m_ready                       ? Failure::Broken
                                                 : Failure::Unavailable,
             QStringLiteral("the ARP helper failed: %1").arg(LogText::quoted(report.text)), true);
        return false;
    }
    return true;
}

void ArpEngine::fail(Failure failure, const QString &reason, bool gently)
{
    // Before "ready" this is the usual way to learn that the kernel path must do: no warning.
    qCDebug(lcArp).noquote() << reason;
    end(gently);
    emit failed(failure, reason);
}

std::optional<ArpEngine::Report> ArpEngine::parseReport(const QByteArray &line)
{
    Report report;
    if (line == "idle") {
        report.kind = Report::Kind::Idle;
        return report;
    }
    if (line.startsWith("error ")) {
        return parseError(line);
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
