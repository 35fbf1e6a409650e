#include "commandline.h"

#include "app/commandlinescan.h"
#include "app/commandlinewatch.h"
#include "app/consoleprompts.h"
#include "base/ipv4text.h"
#include "controller/addressrange.h"
#include "controller/scanorchestration.h"
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

// What an option belongs to: a scan type, or a command other than a scan.
enum Use : unsigned {
    ArpScan = 1,
    HttpScan = 2,
    MdnsScan = 4,
    Listing = 8,
    Identifying = 16,
    ArpWatch = 32,
    MdnsWatch = 64,
    Sweeps = ArpScan | HttpScan,
    Scans = Sweeps | MdnsScan,
    Watches = ArpWatch | MdnsWatch,
    Anything = Scans | Listing | Identifying | Watches
};

struct Option
{
    const char *name;
    char shortName;
    const char *valueName; // null: a switch
    const char *help;
    unsigned use; // given where it does not apply, it is a usage error, never ignored
};

// Every option of the command line, once: the parser and the help text read this table.
const Option kOptions[] = {
    { "scan", 0, "arp|http|mdns", "Scan by ARP, by HTTP probe, or browse mDNS.", Scans | Watches },
    { "interface", 0, "name|address",
      "The interface to sweep from, or to watch, by name or IPv4 address (default: the only "
      "one).",
      Sweeps | Watches },
    { "range", 0, "network/prefix",
      "Sweep this range, at most a /16, instead of the interface's subnet.", Sweeps | ArpWatch },
    { "format", 0, "table|json|csv", "Output format (default: table).", Scans | Listing | Watches },
    { "wait", 0, "seconds", "How long an mDNS scan listens, up to 3600 (default: 3).", MdnsScan },
    { "watch", 0, nullptr, "After the scan (arp or mdns), go on: one line per event, until Ctrl-C.",
      Watches },
    { "duration", 0, "seconds", "End the watch after this long, up to 604800.", Watches },
    { "sweep-period", 0, "seconds",
      "How often an ARP watch sweeps the whole subnet again, 10 to 3600 (default: 60).", ArpWatch },
    { "list-interfaces", 0, nullptr, "List the IPv4 interfaces: name, address/prefix, netmask.",
      Listing },
    { "identify", 0, "address", "Make the device at address blink its LED.", Identifying },
    { "verbose", 0, nullptr, "Write the debug log to standard error (also with the window).",
      Anything },
    { "help", 'h', nullptr, "Show the options.", Anything },
    { "version", 'v', nullptr, "Show the version.", Anything },
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
constexpr double kLongestDurationSeconds = 604800;
constexpr int kShortestSweepPeriodSeconds = 10;
constexpr int kLongestSweepPeriodSeconds = 3600;

using Given = QMap<QString, QString>;

// A number of seconds above 0, up to longest, in whole milliseconds rounded up.
bool millisecondsOf(const QString &text, double longest, int *milliseconds)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    // NaN fails every comparison: only a finite number in range passes.
    if (!ok || !(seconds > 0 && seconds <= longest)) {
        return false;
    }
    *milliseconds = int(std::ceil(seconds * 1000));
    return true;
}

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

// The command the options give, and for a scan its type; the reason when there is none.
QString readCommand(const Given &given, Request *request)
{
    if (given.contains(QStringLiteral("list-interfaces"))) {
        request->command = Request::Command::ListInterfaces;
        return QString();
    }
    if (given.contains(QStringLiteral("identify"))) {
        request->command = Request::Command::Identify;
        request->identify = given.value(QStringLiteral("identify"));
        return Ipv4Text::parse(request->identify)
            ? QString()
            : QStringLiteral("'%1' is not an IPv4 address").arg(request->identify);
    }
    request->command = Request::Command::Scan;
    const QString type = given.value(QStringLiteral("scan"));
    if (!kScanTypes.contains(type)) {
        return QStringLiteral("unknown scan type '%1'").arg(type);
    }
    request->scanType = kScanTypes.value(type);
    // Http Download has no watch: --watch is then an option where it does not apply.
    request->watch = given.contains(QStringLiteral("watch"))
        && request->scanType != Controller::ScanType::HttpDownload;
    return QString();
}

unsigned useOf(const Request &request)
{
    switch (request.command) {
    case Request::Command::ListInterfaces:
        return Listing;
    case Request::Command::Identify:
        return Identifying;
    default:
        break;
    }
    switch (request.scanType) {
    case Controller::ScanType::Arp:
        return request.watch ? ArpWatch : ArpScan;
    case Controller::ScanType::HttpDownload:
        return HttpScan;
    case Controller::ScanType::Mdns:
        return request.watch ? MdnsWatch : MdnsScan;
    }
    return Anything;
}

// An option given to a command or scan it does not apply to.
QString misplacedOption(const Given &given, const Request &request)
{
    const QString command = request.command == Request::Command::Scan
        ? QStringLiteral("--scan ") + given.value(QStringLiteral("scan"))
            + (request.watch ? QStringLiteral(" --watch") : QString())
        : QStringLiteral("--")
            + (request.command == Request::Command::Identify ? QStringLiteral("identify")
                                                             : QStringLiteral("list-interfaces"));
    for (auto it = given.cbegin(); it != given.cend(); ++it) {
        const unsigned use = optionNamed(it.key())->use;
        if (!(use & useOf(request))) {
            // An option of the watch alone, given to a scan that may have one.
            const bool needsWatch = !(use & ~unsigned(Watches)) && !request.watch
                && it.key() != QLatin1String("watch") && request.command == Request::Command::Scan
                && request.scanType != Controller::ScanType::HttpDownload;
            return needsWatch ? QStringLiteral("--%1 needs --watch").arg(it.key())
                              : QStringLiteral("--%1 does not apply to %2").arg(it.key(), command);
        }
    }
    return QString();
}

QString rangeProblem(const QString &text)
{
    const AddressRange::NamedRange range = AddressRange::readRange(text);
    switch (range.problem) {
    case AddressRange::NamedRange::Problem::None:
        return QString();
    case AddressRange::NamedRange::Problem::Malformed:
        return QStringLiteral("'%1' is not a range: network/prefix, such as 192.168.0.0/24")
            .arg(text);
    case AddressRange::NamedRange::Problem::TooWide:
        return QStringLiteral("%1 is wider than a /%2").arg(text).arg(AddressRange::kWidestPrefix);
    case AddressRange::NamedRange::Problem::HostBitsSet:
        return QStringLiteral("%1 has host bits set; did you mean %2?").arg(text, range.text());
    }
    return QString();
}

// The values of the options that take one; the reason when one of them is no such value.
QString readValues(const Given &given, Request *request)
{
    const auto has = [&](const char *name) { return given.contains(QLatin1String(name)); };
    const auto value = [&](const char *name) { return given.value(QLatin1String(name)); };
    request->range = value("range");
    if (has("range") && !rangeProblem(request->range).isEmpty()) {
        return rangeProblem(request->range);
    }
    if (has("format")) {
        const std::optional<DeviceTableWriter::Format> format
            = DeviceTableWriter::formatNamed(value("format"));
        if (!format) {
            return QStringLiteral("unknown format '%1'").arg(value("format"));
        }
        request->format = *format;
    }
    if (has("wait") && !millisecondsOf(value("wait"), kLongestWaitSeconds, &request->waitMs)) {
        return QStringLiteral("--wait needs a number of seconds above 0, up to 3600");
    }
    if (has("duration")
        && !millisecondsOf(value("duration"), kLongestDurationSeconds, &request->durationMs)) {
        return QStringLiteral("--duration needs a number of seconds above 0, up to 604800");
    }
    if (has("sweep-period")) {
        bool ok = false;
        request->sweepPeriodS = value("sweep-period").toInt(&ok);
        if (!ok || request->sweepPeriodS < kShortestSweepPeriodSeconds
            || request->sweepPeriodS > kLongestSweepPeriodSeconds) {
            return QStringLiteral("--sweep-period needs a whole number of seconds, 10 to 3600");
        }
    }
    request->interface = value("interface");
    // Digits and dots only: an address, which must then be a valid one.
    static const QRegularExpression addressLike(QStringLiteral("^[0-9.]+$"));
    if (addressLike.match(request->interface).hasMatch() && !Ipv4Text::parse(request->interface)) {
        return QStringLiteral("'%1' is not an IPv4 address").arg(request->interface);
    }
    return QString();
}

QString readRequest(const Given &given, Request *request)
{
    QString error = readCommand(given, request);
    if (error.isEmpty()) {
        error = misplacedOption(given, *request);
    }
    if (error.isEmpty()) {
        error = readValues(given, request);
    }
    return error;
}

// What the given options mean, or why they mean nothing.
Parsed interpret(const Given &given, bool windowOptions)
{
    Request request;
    request.verbose = given.contains(QStringLiteral("verbose"));
    if (given.contains(QStringLiteral("help")) || given.contains(QStringLiteral("version"))) {
        request.command = given.contains(QStringLiteral("help")) ? Request::Command::Help
                                                                 : Request::Command::Version;
        return { request, QString() };
    }
    const int commands = int(given.contains(QStringLiteral("scan")))
        + int(given.contains(QStringLiteral("list-interfaces")))
        + int(given.contains(QStringLiteral("identify")));
    if (commands == 0 && given.size() == int(request.verbose)) {
        return { request, QString() }; // the window
    }
    const QString error = commands != 1
        ? QStringLiteral("give one of --scan, --list-interfaces, --identify")
        : windowOptions ? QStringLiteral("Qt's window options apply to the window only")
                        : readRequest(given, &request);
    return error.isEmpty() ? Parsed { request, QString() } : Parsed { std::nullopt, error };
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
    // Asks the system again: the address may have gone since the inventory was taken.
    if (!controller.isInterfaceAvailable(candidates.first())) {
        QTextStream(stderr) << "lumisweep: no interface has the address " << candidates.first()
                            << '\n';
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

// The end of a scan request, whatever it was: the rows on standard output as a complete table,
// JSON array or CSV file, so that a script reads well-formed output with every exit code but 2.
int printRows(const QVector<DeviceRow> &rows, const Request &request, int exitCode)
{
    return writeOut(DeviceTableWriter::write(request.format, DeviceTableWriter::devices(rows)))
        ? exitCode
        : Failed;
}

// What the user should know about how the scan went, on standard error.
void tellHowItWent(Controller &controller, std::optional<Controller::ScanFailure> failure,
                   const QStringList &notices, const QString &interface)
{
    QTextStream err(stderr);
    if (failure == Controller::ScanFailure::InterfaceLost) {
        err << "lumisweep: interface " << interface << " went away during the scan\n";
    } else {
        // The info line's words, about the swept range.
        const QString range = controller.getSweptSubnet();
        for (const QString &notice : notices) {
            err << "lumisweep: " << (range.isEmpty() ? QString() : range + QStringLiteral(": "))
                << notice << '\n';
        }
    }
    // Announced devices without a row are otherwise invisible: the user may look for them.
    const int unresolved = controller.getUnresolvedCount();
    if (unresolved > 0) {
        err << "lumisweep: " << unresolved
            << (unresolved == 1 ? " announced instance gave no address\n"
                                : " announced instances gave no address\n");
    }
}

int runScan(Controller &controller, Terminal &terminal, const QString &interfaceIp,
            const Request &request)
{
    const QString interface = QStringLiteral("%1 (%2)").arg(
        controller.inventory().interfaceNameOf(interfaceIp), interfaceIp);
    controller.scans().setRange(request.range);
    CommandLineScan run(&controller, &terminal);
    const CommandLineScan::Outcome outcome = run.run(interfaceIp, request.scanType, request.waitMs);
    controller.shutdown();
    tellHowItWent(controller, run.failure(), run.notices(), interface);
    // What was found is printed also when the scan ended early; the code says how it ended.
    return printRows(run.rows(), request,
                     outcome == CommandLineScan::Outcome::Failed            ? Failed
                         : outcome == CommandLineScan::Outcome::Interrupted ? Interrupted
                                                                            : Done);
}

int runWatch(Controller &controller, Terminal &terminal, const QString &interfaceIp,
             const Request &request)
{
    const QString interface = QStringLiteral("%1 (%2)").arg(
        controller.inventory().interfaceNameOf(interfaceIp), interfaceIp);
    controller.scans().setRange(request.range);
    controller.scans().setSweepPeriod(qint64(request.sweepPeriodS) * 1000);
    CommandLineWatch watch(&controller, &terminal, request.format);
    const CommandLineWatch::Outcome outcome
        = watch.run(interfaceIp, request.scanType, request.durationMs);
    controller.shutdown();
    tellHowItWent(controller, watch.failure(), watch.notices(), interface);
    if (!watch.problem().isEmpty()) {
        QTextStream(stderr) << "lumisweep: " << watch.problem() << '\n';
    }
    return outcome == CommandLineWatch::Outcome::Failed     ? Failed
        : outcome == CommandLineWatch::Outcome::Interrupted ? Interrupted
                                                            : Done;
}

int scan(Controller &controller, Terminal &terminal, const Request &request)
{
    if (request.scanType == Controller::ScanType::Mdns && !request.watch) {
        // The browse listens on every interface: there is none to choose.
        return runScan(controller, terminal, QString(), request);
    }
    int exitCode = Done;
    const std::optional<QString> interfaceIp
        = chooseInterface(controller, request.interface, &exitCode);
    if (interfaceIp && request.scanType == Controller::ScanType::HttpDownload
        && !request.range.isEmpty() && !controller.scans().hasRouteTo(request.range)) {
        QTextStream(stderr) << "lumisweep: no route to " << request.range << '\n';
        exitCode = Failed;
    }
    if (exitCode == Usage || (exitCode != Done && request.watch)) {
        return exitCode;
    }
    if (request.watch) {
        return runWatch(controller, terminal, *interfaceIp, request);
    }
    return exitCode == Done ? runScan(controller, terminal, *interfaceIp, request)
                            : printRows({}, request, exitCode);
}

int identify(Controller &controller, const QString &address)
{
    if (!controller.indicateDevice(address)) {
        QTextStream(stderr) << "lumisweep: Identify device: " << address << " failed\n";
        return Failed;
    }
    QTextStream(stdout) << "Identify device: " << address << " successful\n";
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
        "       lumisweep --scan arp|mdns --watch [options]  a scan, then its changes as they "
        "happen\n"
        "       lumisweep --list-interfaces | --identify ADDRESS\n"
        "An option that the scan or command does not use is an error.\n\n"
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
    // Warnings are messages to the user as well: they name the program as every message does.
    qSetMessagePattern(QStringLiteral("%{if-warning}lumisweep: %{endif}%{if-critical}lumisweep: "
                                      "%{endif}%{if-category}%{category}: %{endif}%{message}"));
    Terminal terminal;
    terminal.catchInterrupts();
    ConsolePrompts prompts;
    Controller controller(nullptr, &prompts);
    controller.setSweepDelay(0); // no window to draw before the sweep
    switch (request.command) {
    case Request::Command::ListInterfaces:
        return writeOut(
                   DeviceTableWriter::write(request.format, interfaceTable(controller.inventory())))
            ? Done
            : Failed;
    case Request::Command::Identify:
        return identify(controller, request.identify);
    case Request::Command::Scan:
        return scan(controller, terminal, request);
    default:
        return Usage;
    }
}

int usageError(const QString &message)
{
    QTextStream(stderr) << "lumisweep: " << message << "\nTry 'lumisweep --help'.\n";
    return Usage;
}

} // namespace CommandLine
