#include "simconfig.h"

#include <QNetworkInterface>

namespace {

const char *const kMacPath = "/public/macAddress";
const char *const kNamePath = "/public/deviceName";
const char *const kFwPath = "/public/fw_version";

QStringList pathsFor(const QString &endpoint)
{
    if (endpoint == QLatin1String("mac")) {
        return { QLatin1String(kMacPath) };
    }
    if (endpoint == QLatin1String("name")) {
        return { QLatin1String(kNamePath) };
    }
    if (endpoint == QLatin1String("fw")) {
        return { QLatin1String(kFwPath) };
    }
    if (endpoint == QLatin1String("all")) {
        return { QLatin1String(kMacPath), QLatin1String(kNamePath), QLatin1String(kFwPath) };
    }
    return {};
}

bool parseFault(const QString &text, EndpointBehaviour *behaviour)
{
    using Fault = EndpointBehaviour::Fault;
    const QString kind = text.section(QLatin1Char(':'), 0, 0);
    const QString argument = text.section(QLatin1Char(':'), 1);
    bool ok = true;
    if (kind == QLatin1String("404")) {
        behaviour->fault = Fault::NotFound;
    } else if (kind == QLatin1String("text-plain")) {
        behaviour->fault = Fault::TextPlain;
    } else if (kind == QLatin1String("delay")) {
        behaviour->fault = Fault::Delay;
        behaviour->argument = argument.toLongLong(&ok);
    } else if (kind == QLatin1String("hang")) {
        behaviour->fault = Fault::Hang;
    } else if (kind == QLatin1String("endless")) {
        behaviour->fault = Fault::Endless;
    } else if (kind == QLatin1String("huge")) {
        behaviour->fault = Fault::Huge;
        behaviour->argument = argument.toLongLong(&ok);
    } else if (kind == QLatin1String("drip")) {
        behaviour->fault = Fault::Drip;
    } else if (kind == QLatin1String("gzip-bomb")) {
        behaviour->fault = Fault::GzipBomb;
    } else if (kind == QLatin1String("endless-headers")) {
        behaviour->fault = Fault::EndlessHeaders;
    } else {
        return false;
    }
    return ok && behaviour->argument >= 0;
}

bool parseCidr(const QString &text, quint32 *network, quint32 *mask)
{
    const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(text);
    if (subnet.first.protocol() != QAbstractSocket::IPv4Protocol) {
        return false;
    }
    *mask = subnet.second == 0 ? 0 : ~quint32(0) << (32 - subnet.second);
    *network = subnet.first.toIPv4Address() & *mask;
    return true;
}

} // namespace

QByteArray SimConfig::unescape(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray bytes;
    for (int i = 0; i < utf8.size(); ++i) {
        const char c = utf8.at(i);
        if (c != '\\' || i + 1 == utf8.size()) {
            bytes.append(c);
            continue;
        }
        const char next = utf8.at(++i);
        switch (next) {
        case '0':
            bytes.append('\0');
            break;
        case 'r':
            bytes.append('\r');
            break;
        case 'n':
            bytes.append('\n');
            break;
        case 't':
            bytes.append('\t');
            break;
        case 'x':
            if (i + 2 < utf8.size()) {
                bytes.append(char(utf8.mid(i + 1, 2).toInt(nullptr, 16)));
                i += 2;
            }
            break;
        default:
            bytes.append(next);
        }
    }
    return bytes;
}

bool SimConfig::parse(const QStringList &arguments, QString *error)
{
    QHash<QString, QByteArray> bodies;
    for (const char *path : { kMacPath, kNamePath, kFwPath }) {
        endpoints.insert(QLatin1String(path), EndpointBehaviour());
    }
    QByteArray name = "Encoder";
    QByteArray firmware = "1.0.0";
    QByteArray macBody;
    bool macGiven = false;
    int nameLength = -1;

    for (int i = 1; i < arguments.size(); ++i) {
        const QString option = arguments.at(i);
        if (i + 1 >= arguments.size()) {
            *error = QStringLiteral("option %1 needs a value").arg(option);
            return false;
        }
        const QString value = arguments.at(++i);
        const QString endpoint = value.section(QLatin1Char('='), 0, 0);
        const QString setting = value.section(QLatin1Char('='), 1);
        bool ok = true;
        if (option == QLatin1String("--ip")) {
            ok = address.setAddress(value);
        } else if (option == QLatin1String("--iface")) {
            interfaceName = value;
        } else if (option == QLatin1String("--dir")) {
            directory = value;
        } else if (option == QLatin1String("--key")) {
            fileKey = value;
            ok = !value.isEmpty() && !value.contains(QLatin1Char('/'));
        } else if (option == QLatin1String("--http-port")) {
            httpPort = quint16(value.toUShort(&ok));
        } else if (option == QLatin1String("--identify-port")) {
            identifyPort = quint16(value.toUShort(&ok));
        } else if (option == QLatin1String("--name")) {
            name = value.toUtf8();
        } else if (option == QLatin1String("--name-length")) {
            nameLength = value.toInt(&ok);
            ok = ok && nameLength >= 0;
        } else if (option == QLatin1String("--fw")) {
            firmware = value.toUtf8();
        } else if (option == QLatin1String("--mac")) {
            macBody = value.toUtf8();
            macGiven = true;
        } else if (option == QLatin1String("--body") || option == QLatin1String("--body-hex")
                   || option == QLatin1String("--content-type")
                   || option == QLatin1String("--fault")) {
            const QStringList paths = pathsFor(endpoint);
            ok = !paths.isEmpty() && value.contains(QLatin1Char('='));
            for (const QString &path : paths) {
                EndpointBehaviour &behaviour = endpoints[path];
                if (option == QLatin1String("--body")) {
                    bodies.insert(path, unescape(setting));
                } else if (option == QLatin1String("--body-hex")) {
                    bodies.insert(path, QByteArray::fromHex(setting.toLatin1()));
                } else if (option == QLatin1String("--content-type")) {
                    behaviour.contentType = setting.toUtf8();
                } else {
                    ok = ok && parseFault(setting, &behaviour);
                }
            }
        } else if (option == QLatin1String("--arp-delay")) {
            arpDelayMs = value.toInt(&ok);
            ok = ok && arpDelayMs >= 0;
        } else if (option == QLatin1String("--arp-drop")) {
            arpDropCount = value.toInt(&ok);
            ok = ok && arpDropCount >= 0;
        } else if (option == QLatin1String("--arp-answer")) {
            ok = parseCidr(value, &arpAnswerNetwork, &arpAnswerMask);
        } else if (option == QLatin1String("--announce")) {
            announcements = value.toInt(&ok);
            ok = ok && announcements > 0;
        } else if (option == QLatin1String("--leave-after-requests")) {
            leaveAfterRequests = value.toInt(&ok);
            ok = ok && leaveAfterRequests > 0;
        } else {
            *error = QStringLiteral("unknown option %1").arg(option);
            return false;
        }
        if (!ok) {
            *error = QStringLiteral("bad value for %1: %2").arg(option, value);
            return false;
        }
    }
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        *error = QStringLiteral("--ip ADDRESS is required");
        return false;
    }
    if (fileKey.isEmpty()) {
        fileKey = address.toString();
    }
    if (!interfaceName.isEmpty()) {
        const QNetworkInterface interface = QNetworkInterface::interfaceFromName(interfaceName);
        hardwareAddress = QByteArray::fromHex(interface.hardwareAddress().toLatin1());
        if (hardwareAddress.size() != 6) {
            *error = QStringLiteral("no hardware address for interface %1").arg(interfaceName);
            return false;
        }
    }
    if (nameLength >= 0) {
        if (name.isEmpty()) {
            *error = QStringLiteral("--name-length needs a non-empty --name");
            return false;
        }
        // Cut from repeats of the name: "--name N --name-length 10000" is ten thousand Ns.
        name = name.repeated(nameLength / name.size() + 1).left(nameLength);
    }
    if (!macGiven) {
        macBody = hardwareAddress.toHex('-').toUpper();
    }
    endpoints[QLatin1String(kMacPath)].body = bodies.value(QLatin1String(kMacPath), macBody);
    endpoints[QLatin1String(kNamePath)].body = bodies.value(QLatin1String(kNamePath), name);
    endpoints[QLatin1String(kFwPath)].body = bodies.value(QLatin1String(kFwPath), firmware);
    return true;
}
