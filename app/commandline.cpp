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

const char *const kOptions[] = { "scan",  "interface", "format", "wait", "list-interfaces",
                                 "identify", "help", "version" };
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
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Finds network video encoders on the local IPv4 network and lists them."));
    const QCommandLineOption scan(QStringLiteral("scan"),
                                  QStringLiteral("Scan by ARP, HTTP probe or mDNS."),
                                  QStringLiteral("arp|http|mdns"));
    const QCommandLineOption interface(QStringLiteral("interface"),
                                       QStringLiteral("The interface address to scan from."),
                                       QStringLiteral("address"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("Output format (default: table)."),
                                    QStringLiteral("table|json|csv"), QStringLiteral("table"));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  QStringLiteral("How long an mDNS scan listens (default: 3)."),
                                  QStringLiteral("seconds"), QStringLiteral("3"));
    const QCommandLineOption list(QStringLiteral("list-interfaces"),
                                  QStringLiteral("List the IPv4 interface addresses and netmasks."));
    const QCommandLineOption identify(QStringLiteral("identify"),
                                      QStringLiteral("Make the device at address blink its LED."),
                                      QStringLiteral("address"));
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") },
                                     QStringLiteral("Show the version."));
    parser.addOptions({ scan, interface, format, wait, list, identify, version });
    const QCommandLineOption help = parser.addHelpOption();
    if (!parser.parse(app.arguments())) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText();
        return Done;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << "lumisweep " << Controller::versionNumber() << '\n';
        return Done;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(QStringLiteral("unexpected argument '%1'")
                              .arg(parser.positionalArguments().first()));
    }
    if (int(parser.isSet(scan)) + int(parser.isSet(list)) + int(parser.isSet(identify)) != 1) {
        return usageError(QStringLiteral("give one of --scan, --list-interfaces, --identify"));
    }
    const std::optional<DeviceTableWriter::Format> output
        = DeviceTableWriter::formatNamed(parser.value(format));
    bool waitOk = false;
    const double waitSeconds = parser.value(wait).toDouble(&waitOk);
    if (!output) {
        return usageError(QStringLiteral("unknown format '%1'").arg(parser.value(format)));
    }
    if (!waitOk || waitSeconds <= 0 || waitSeconds > 3600) {
        return usageError(QStringLiteral("--wait needs a number of seconds up to 3600"));
    }
    if (parser.isSet(scan) && !kScanTypes.contains(parser.value(scan))) {
        return usageError(QStringLiteral("unknown scan type '%1'").arg(parser.value(scan)));
    }

    // The debug log is for the window's developers; QT_LOGGING_RULES still turns it on.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    ConsolePrompts prompts;
    Controller controller(nullptr, &prompts);
    QObject::connect(&controller, &Controller::infoMessage,
                     [](const QString &message) { QTextStream(stderr) << message << '\n'; });
    Console console;
    console.catchInterrupts();

    if (parser.isSet(list)) {
        for (const QString &address : controller.getNetworkList()) {
            QTextStream(stdout) << address << ' ' << controller.netmaskOf(address) << '\n';
        }
        return Done;
    }
    if (parser.isSet(identify)) {
        const QString address = parser.value(identify);
        if (!controller.checkStringIPV4(address)) {
            return Usage;
        }
        const bool sent = controller.indicateDevice(address);
        QTextStream(sent ? stdout : stderr)
            << "Identify device: " << address << (sent ? " successful\n" : " failed\n");
        return sent ? Done : Failed;
    }

    int exitCode = Done;
    const QString interfaceIp = chooseInterface(controller, parser.value(interface), &exitCode);
    if (exitCode != Done) {
        return exitCode;
    }
    CommandLineScan run(&controller, &prompts, &console);
    const CommandLineScan::Outcome outcome
        = run.run(interfaceIp, kScanTypes.value(parser.value(scan)), int(waitSeconds * 1000));
    controller.shutdown();
    // What was found is printed also when the scan ended early; the code says how it ended.
    if (outcome != CommandLineScan::Outcome::Failed || !run.rows().isEmpty()) {
        const QByteArray text = DeviceTableWriter::write(*output, run.rows());
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
