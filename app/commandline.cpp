#include "commandline.h"

#include "app/commandlinescan.h"
#include "app/consoleprompts.h"
#include "app/devicetablewriter.h"
#include "controller/controller.h"
#include "platform/console.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>
#include <cstring>

namespace {

const char *const kOptions[]
    = { "scan", "interface", "format", "wait", "list-interfaces", "identify", "help", "version" };
const QMap<QString, int> kScanTypes { { QStringLiteral("arp"), 1 },
                                      { QStringLiteral("http"), 2 },
                                      { QStringLiteral("mdns"), 3 } };

int usageError(const QString &message)
{
    QTextStream(stderr) << "lumisweep: " << message << "\nTry 'lumisweep --help'.\n";
    return CommandLine::Usage;
}

// With no --interface: the machine's one non-loopback IPv4 address, if it has exactly one.
QString chooseInterface(Controller &controller, const QString &asked, int *exitCode)
{
    if (!asked.isEmpty()) {
        if (!controller.checkStringIPV4(asked)) {
            *exitCode = CommandLine::Usage;
        } else if (!controller.isInterfaceAvailable(asked)) {
            *exitCode = CommandLine::Failed;
        }
        return asked;
    }
    QStringList candidates;
    for (const QString &address : controller.getNetworkList()) {
        if (!address.startsWith(QLatin1String("127."))) {
            candidates << address;
        }
    }
    if (candidates.size() == 1) {
        return candidates.first();
    }
    QTextStream err(stderr);
    err << "lumisweep: choose an interface with --interface ADDRESS:\n";
    for (const QString &address : candidates) {
        err << "  " << address << ' ' << controller.netmaskOf(address) << '\n';
    }
    *exitCode = CommandLine::Usage;
    return QString();
}

// What is wrong with parsed options, for the user; empty when nothing is.
QString problemWith(const QCommandLineParser &parser)
{
    bool waitOk = false;
    const double waitSeconds = parser.value(QStringLiteral("wait")).toDouble(&waitOk);
    const QString format = parser.value(QStringLiteral("format"));
    const QString scan = parser.value(QStringLiteral("scan"));
    const int commands = int(parser.isSet(QStringLiteral("scan")))
        + int(parser.isSet(QStringLiteral("list-interfaces")))
        + int(parser.isSet(QStringLiteral("identify")));
    if (!parser.positionalArguments().isEmpty()) {
        return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    }
    if (commands != 1) {
        return QStringLiteral("give one of --scan, --list-interfaces, --identify");
    }
    if (!DeviceTableWriter::formatNamed(format)) {
        return QStringLiteral("unknown format '%1'").arg(format);
    }
    if (!waitOk || waitSeconds <= 0 || waitSeconds > 3600) {
        return QStringLiteral("--wait needs a number of seconds up to 3600");
    }
    if (parser.isSet(QStringLiteral("scan")) && !kScanTypes.contains(scan)) {
        return QStringLiteral("unknown scan type '%1'").arg(scan);
    }
    return QString();
}

} // namespace

bool CommandLine::isWanted(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "-v") == 0) {
            return true;
        }
        if (std::strncmp(argument, "--", 2) != 0) {
            continue;
        }
        for (const char *option : kOptions) {
            const size_t length = std::strlen(option);
            if (std::strncmp(argument + 2, option, length) == 0
                && (argument[2 + length] == '\0' || argument[2 + length] == '=')) {
                return true;
            }
        }
    }
    return false;
}

int CommandLine::run(int argc, char **argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
    QCoreApplication app(argc, argv);
    int exitCode = Done;
    const std::optional<Request> request = parse(app.arguments(), &exitCode);
    if (!request) {
        return exitCode;
    }
    // The debug log is for the window's developers; QT_LOGGING_RULES still turns it on.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    ConsolePrompts prompts;
    Controller controller(nullptr, &prompts);
    controller.setSweepDelay(0); // no window to draw before the sweep
    QObject::connect(&controller, &Controller::infoMessage,
                     [](const QString &message) { QTextStream(stderr) << message << '\n'; });
    if (request->listInterfaces) {
        for (const QString &address : controller.getNetworkList()) {
            QTextStream(stdout) << address << ' ' << controller.netmaskOf(address) << '\n';
        }
        return Done;
    }
    if (!request->identify.isNull()) {
        if (!controller.checkStringIPV4(request->identify)) {
            return Usage;
        }
        const bool sent = controller.indicateDevice(request->identify);
        QTextStream(sent ? stdout : stderr)
            << "Identify device: " << request->identify << (sent ? " successful\n" : " failed\n");
        return sent ? Done : Failed;
    }
    const QString interfaceIp = chooseInterface(controller, request->interface, &exitCode);
    return exitCode != Done ? exitCode : scan(controller, prompts, interfaceIp, *request);
}

std::optional<CommandLine::Request> CommandLine::parse(const QStringList &arguments, int *exitCode)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds network video encoders on the local IPv4 network and lists them."));
    // Name, what it does, the value's name (none: a switch), the default value.
    const char *const options[][4] = {
        { "scan", "Scan by ARP, HTTP probe or mDNS.", "arp|http|mdns", "" },
        { "interface", "The interface address to scan from.", "address", "" },
        { "format", "Output format (default: table).", "table|json|csv", "table" },
        { "wait", "How long an mDNS scan listens (default: 3).", "seconds", "3" },
        { "list-interfaces", "List the IPv4 interface addresses and netmasks.", "", "" },
        { "identify", "Make the device at address blink its LED.", "address", "" },
    };
    for (const auto &option : options) {
        parser.addOption(QCommandLineOption(QLatin1String(option[0]), QLatin1String(option[1]),
                                            QLatin1String(option[2]), QLatin1String(option[3])));
    }
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") },
                                     QStringLiteral("Show the version."));
    parser.addOption(version);
    const QCommandLineOption help = parser.addHelpOption();
    const QString scan = QStringLiteral("scan"), list = QStringLiteral("list-interfaces"),
                  identify = QStringLiteral("identify"), format = QStringLiteral("format"),
                  wait = QStringLiteral("wait"), interface = QStringLiteral("interface");
    *exitCode = Usage;
    if (!parser.parse(arguments)) {
        usageError(parser.errorText());
        return std::nullopt;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        QTextStream(stdout) << (parser.isSet(help)
                                    ? parser.helpText()
                                    : "lumisweep " + Controller::versionNumber() + '\n');
        *exitCode = Done;
        return std::nullopt;
    }
    const QString problem = problemWith(parser);
    if (!problem.isEmpty()) {
        usageError(problem);
        return std::nullopt;
    }
    *exitCode = Done;
    return Request { parser.isSet(list),
                     parser.isSet(identify) ? parser.value(identify) : QString(),
                     kScanTypes.value(parser.value(scan)),
                     parser.value(interface),
                     *DeviceTableWriter::formatNamed(parser.value(format)),
                     int(parser.value(wait).toDouble() * 1000) };
}

int CommandLine::scan(Controller &controller, ConsolePrompts &prompts, const QString &interfaceIp,
                      const Request &request)
{
    Console console;
    console.catchInterrupts();
    CommandLineScan run(&controller, &prompts, &console);
    const CommandLineScan::Outcome outcome = run.run(interfaceIp, request.scanType, request.waitMs);
    controller.shutdown();
    // What was found is printed also when the scan ended early; the code says how it ended.
    if (outcome != CommandLineScan::Outcome::Failed || !run.rows().isEmpty()) {
        const QByteArray text = DeviceTableWriter::write(request.format, run.rows());
        fwrite(text.constData(), 1, size_t(text.size()), stdout);
    }
    switch (outcome) {
    case CommandLineScan::Outcome::Failed:
        return Failed;
    case CommandLineScan::Outcome::Interrupted:
        return Interrupted;
    case CommandLineScan::Outcome::Done:
        break;
    }
    return Done;
}
