#include "commandline.h"

#include "app/commandlinescan.h"
#include "app/consoleprompts.h"
#include "base/ipv4text.h"
#include "controller/addressrange.h"
#include "controller/terminal.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QMap>
#include <QRegularExpression>
#include <QTextStream>

#include <cmath>

namespace CommandLine {

namespace {

struct Option
{
    const char *name;
    char shortName;
    const char *valueName; // null: a switch
    const char *help;
};

// Every option of the command line, once: the parser and the help text read this table.
const Option kOptions[] = {
    { "scan", 0, "arp|http|mdns", "Scan by ARP, by HTTP probe, or browse mDNS." },
    { "interface", 0, "name|address",
      "The interface to scan from, by name or IPv4 address (default: the only one)." },
    { "range", 0, "network/prefix",
      "Sweep this range, at most a /16, instead of the interface's subnet." },
    { "format", 0, "table|json|csv", "Output format (default: table)." },
    { "wait", 0, "seconds", "How long an mDNS scan listens, up to 3600 (default: 3)." },
    { "list-interfaces", 0, nullptr, "List the IPv4 interfaces: name, address/prefix, netmask." },
    { "identify", 0, "address", "Make the device at address blink its LED." },
    { "verbose", 0, nullptr, "Write the debug log to standard error (also with the window)." },
    { "help", 'h', nullptr, "Show the options." },
    { "version", 'v', nullptr, "Show the version." },
};

// Qt's own options of a window program, which the window honours: those that take a value, then
// the switches.
const char *const kWindowOptionsWithValue[]
    = { "platform",    "platformpluginpath", "platformtheme", "plugin",     "qwindowgeometry",
        "qwindowicon", "qwindowtitle",       "style",         "stylesheet", "session",
        "display",     "geometry",           "title",         "name" };
const char *const kWindowSwitches[] = { "reverse", "widgetcount", "nograb", "dograb", "sync" };

const QMap<QString, Controller::ScanType> kScanTypes {
    { QStringLiteral("arp"), Controller::ScanType::Arp },
    { QStringLiteral("http"), Controller::ScanType::HttpDownload },
    { QStringLiteral("mdns"), Controller::ScanType::Mdns }
};
constexpr double kLongestWaitSeconds = 3600;

const Option *optionNamed(const QString &name)
{
    for (const Option &option : kOptions) {
        if (name == QLatin1String(option.name)
            || (option.shortName && name == QString(QLatin1Char(option.shortName)))) {
            return &option;
        }
    }
    return nullptr;
}

bool isIn(const QString &name, const char *const *list, int size)
{
    return std::any_of(list, list + size, [&](const char *item) { return name == item; });
}

// What the given options mean, or why they mean nothing.
Parsed interpret(const QMap<QString, QString> &given, bool windowOptions)
{
    const auto has = [&](const char *name) { return given.contains(QLatin1String(name)); };
    const auto value = [&](const char *name) { return given.value(QLatin1String(name)); };
    Request request;
    request.verbose = has("verbose");
    if (has("help") || has("version")) {
        request.command = has("help") ? Request::Command::Help : Request::Command::Version;
        return { request, QString() };
    }
    const int commands = int(has("scan")) + int(has("list-interfaces")) + int(has("identify"));
    if (commands == 0 && given.size() == int(request.verbose)) {
        return { request, QString() }; // the window
    }
    if (commands != 1) {
        return { std::nullopt,
                 QStringLiteral("give one of --scan, --list-interfaces, --identify") };
    }
    if (windowOptions) {
        return { std::nullopt, QStringLiteral("Qt's window options apply to the window only") };
    }
    if (has("scan")) {
        request.command = Request::Command::Scan;
        if (!kScanTypes.contains(value("scan"))) {
            return { std::nullopt, QStringLiteral("unknown scan type '%1'").arg(value("scan")) };
        }
        request.scanType = kScanTypes.value(value("scan"));
    } else if (has("list-interfaces")) {
        request.command = Request::Command::ListInterfaces;
    } else {
        request.command = Request::Command::Identify;
        request.identify = value("identify");
        if (!Ipv4Text::parse(request.identify)) {
            return { std::nullopt,
                     QStringLiteral("'%1' is not an IPv4 address").arg(request.identify) };
        }
    }
    if (has("range")) {
        request.range = value("range");
        if (request.command != Request::Command::Scan
            || request.scanType == Controller::ScanType::Mdns) {
            return { std::nullopt, QStringLiteral("--range goes with --scan arp or --scan http") };
        }
        if (AddressRange::fromRange(request.range).isEmpty()) {
            return { std::nullopt,
                     QStringLiteral("'%1' is not a range of at most a /16 (network/prefix)")
                         .arg(request.range) };
        }
    }
    if (has("format")) {
        const std::optional<DeviceTableWriter::Format> format
            = DeviceTableWriter::formatNamed(value("format"));
        if (!format) {
            return { std::nullopt, QStringLiteral("unknown format '%1'").arg(value("format")) };
        }
        request.format = *format;
    }
    if (has("wait")) {
        bool ok = false;
        const double seconds = value("wait").toDouble(&ok);
        // NaN fails every comparison: only a finite number in range passes.
        if (!ok || !(seconds > 0 && seconds <= kLongestWaitSeconds)) {
            return { std::nullopt,
                     QStringLiteral("--wait needs a number of seconds above 0, up to 3600") };
        }
        request.waitMs = int(std::ceil(seconds * 1000));
    }
    if (has("interface")) {
        request.interface = value("interface");
        // Digits and dots only: an address, which must then be a valid one.
        static const QRegularExpression addressLike(QStringLiteral("^[0-9.]+$"));
        if (addressLike.match(request.interface).hasMatch()
            && !Ipv4Text::parse(request.interface)) {
            return { std::nullopt,
                     QStringLiteral("'%1' is not an IPv4 address").arg(request.interface) };
        }
    }
    return { request, QString() };
}

bool writeOut(const QByteArray &text)
{
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly) || out.write(text) != text.size() || !out.flush()) {
        QTextStream(stderr) << "lumisweep: cannot write the output: " << out.errorString() << '\n';
        return false;
    }
    return true;
}

// The address to scan from: the one asked for, by address or by interface name, or the
// machine's only address other than loopback. Nothing, with the exit code, when there is none
// to take.
std::optional<QString> chooseInterface(Controller &controller, const QString &asked, int *exitCode)
{
    const InterfaceInventory &inventory = controller.inventory();
    QStringList candidates;
    if (asked.isEmpty()) {
        for (const QString &address : inventory.addresses()) {
            if (!address.startsWith(QLatin1String("127."))) {
                candidates << address;
            }
        }
    } else if (Ipv4Text::parse(asked)) {
        candidates << asked;
    } else {
        candidates = inventory.addressesOf(asked);
        if (candidates.isEmpty()) {
            QTextStream(stderr) << "lumisweep: no interface named '" << asked
                                << "' has an IPv4 address\n";
            *exitCode = Failed;
            return std::nullopt;
        }
    }
    if (candidates.size() != 1) {
        QTextStream err(stderr);
        err << "lumisweep: choose an interface with --interface NAME|ADDRESS:\n";
        for (const QString &address : candidates) {
            err << "  " << inventory.interfaceNameOf(address) << ' '
                << inventory.addressWithPrefix(address) << '\n';
        }
        *exitCode = Usage;
        return std::nullopt;
    }
    // Says why on standard error when it is not.
    if (!controller.isInterfaceAvailable(candidates.first())) {
        *exitCode = Failed;
        return std::nullopt;
    }
    return candidates.first();
}

DeviceTableWriter::Table interfaceTable(const InterfaceInventory &inventory)
{
    DeviceTableWriter::Table table;
    table.titles = QStringList { QStringLiteral("Interface"), QStringLiteral("Address"),
                                 QStringLiteral("Netmask") };
    table.keys = QStringList { QStringLiteral("interface"), QStringLiteral("address"),
                               QStringLiteral("netmask") };
    for (const QString &address : inventory.addresses()) {
        table.rows.append({ inventory.interfaceNameOf(address),
                            inventory.addressWithPrefix(address), inventory.netmaskOf(address) });
    }
    return table;
}

int scan(Controller &controller, Terminal &terminal, const QString &interfaceIp,
         const Request &request)
{
    controller.setRange(request.range);
    CommandLineScan run(&controller, &terminal);
    const CommandLineScan::Outcome outcome = run.run(interfaceIp, request.scanType, request.waitMs);
    controller.shutdown();
    // Announced devices without a row are otherwise invisible: the user may look for them.
    const int unresolved = controller.getUnresolvedCount();
    if (request.scanType == Controller::ScanType::Mdns && unresolved > 0) {
        QTextStream(stderr) << unresolved
                            << (unresolved == 1 ? " announced instance gave no address\n"
                                                : " announced instances gave no address\n");
    }
    // What was found is printed also when the scan ended early; the code says how it ended.
    const QVector<DeviceRow> rows = run.rows();
    if ((outcome != CommandLineScan::Outcome::Failed || !rows.isEmpty())
        && !writeOut(DeviceTableWriter::write(request.format, DeviceTableWriter::devices(rows)))) {
        return Failed;
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

} // namespace

Parsed parse(const QStringList &arguments)
{
    QMap<QString, QString> given;
    bool windowOptions = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i);
        if (!argument.startsWith(QLatin1Char('-')) || argument.size() < 2) {
            return { std::nullopt, QStringLiteral("unexpected argument '%1'").arg(argument) };
        }
        // Qt takes its options with one dash or two, as the command line does its own.
        QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        QString inlineValue;
        const int equals = name.indexOf(QLatin1Char('='));
        if (equals >= 0) {
            inlineValue = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (isIn(name, kWindowSwitches, int(std::size(kWindowSwitches)))) {
            windowOptions = true;
            continue;
        }
        if (isIn(name, kWindowOptionsWithValue, int(std::size(kWindowOptionsWithValue)))
            || name.startsWith(QLatin1String("qmljsdebugger"))) {
            windowOptions = true;
            i += equals < 0 && !name.startsWith(QLatin1String("qmljsdebugger")) ? 1 : 0;
            continue;
        }
        const Option *option = optionNamed(name);
        if (!option) {
            return { std::nullopt, QStringLiteral("unknown option '%1'").arg(argument) };
        }
        const QString key = QLatin1String(option->name);
        if (given.contains(key)) {
            return { std::nullopt, QStringLiteral("--%1 is given more than once").arg(key) };
        }
        QString value;
        if (option->valueName) {
            if (equals >= 0) {
                value = inlineValue;
            } else if (i + 1 < arguments.size()) {
                value = arguments.at(++i);
            }
            if (value.isEmpty()) {
                return { std::nullopt, QStringLiteral("--%1 needs a value").arg(key) };
            }
        } else if (equals >= 0) {
            return { std::nullopt, QStringLiteral("--%1 takes no value").arg(key) };
        }
        given.insert(key, value);
    }
    return interpret(given, windowOptions);
}

QString helpText()
{
    QString text = QStringLiteral(
        "Usage: lumisweep [--verbose]                    the window\n"
        "       lumisweep --scan arp|http|mdns [options]  a scan, printed\n"
        "       lumisweep --list-interfaces | --identify ADDRESS\n\n"
        "Finds network video encoders on the local IPv4 network and lists them.\n\n"
        "Options:\n");
    for (const Option &option : kOptions) {
        QString left = QStringLiteral("  ");
        left += option.shortName ? QStringLiteral("-%1, ").arg(QLatin1Char(option.shortName))
                                 : QStringLiteral("    ");
        left += QStringLiteral("--") + QLatin1String(option.name);
        if (option.valueName) {
            left += QLatin1Char(' ') + QLatin1String(option.valueName);
        }
        text += left.leftJustified(32) + QLatin1String(option.help) + QLatin1Char('\n');
    }
    text += QStringLiteral("\nExit status: 0 done, 1 the scan could not run or its interface went "
                           "away or the output\ncould not be written, 2 usage error, 130 "
                           "interrupted. See lumisweep(1).\n");
    return text;
}

int run(int argc, char **argv, const Request &request)
{
    if (request.command == Request::Command::Help) {
        return writeOut(helpText().toUtf8()) ? Done : Failed;
    }
    if (request.command == Request::Command::Version) {
        return writeOut("lumisweep " + Controller::versionNumber().toUtf8() + '\n') ? Done : Failed;
    }
    QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
    QCoreApplication app(argc, argv);
    // The debug log is for the developers; --verbose or QT_LOGGING_RULES turns it on.
    if (!request.verbose) {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }
    Terminal terminal;
    terminal.catchInterrupts();
    ConsolePrompts prompts;
    Controller controller(nullptr, &prompts);
    controller.setSweepDelay(0); // no window to draw before the sweep
    QObject::connect(&controller, &Controller::infoMessage,
                     [](const QString &message) { QTextStream(stderr) << message << '\n'; });
    switch (request.command) {
    case Request::Command::ListInterfaces:
        return writeOut(
                   DeviceTableWriter::write(request.format, interfaceTable(controller.inventory())))
            ? Done
            : Failed;
    case Request::Command::Identify: {
        const bool sent = controller.indicateDevice(request.identify);
        QTextStream(sent ? stdout : stderr)
            << "Identify device: " << request.identify << (sent ? " successful\n" : " failed\n");
        return sent ? Done : Failed;
    }
    case Request::Command::Scan:
        break;
    default:
        return Usage;
    }
    int exitCode = Done;
    const std::optional<QString> interfaceIp
        = chooseInterface(controller, request.interface, &exitCode);
    return interfaceIp ? scan(controller, terminal, *interfaceIp, request) : exitCode;
}

int usageError(const QString &message)
{
    QTextStream(stderr) << "lumisweep: " << message << "\nTry 'lumisweep --help'.\n";
    return Usage;
}

} // namespace CommandLine
