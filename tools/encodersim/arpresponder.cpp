#include "arpresponder.h"

#include "simlog.h"

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cstring>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/if_ether.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kFrameSize = int(sizeof(ether_header) + sizeof(ether_arp));
constexpr int kAnnounceIntervalMs = 2000;
const unsigned char kBroadcast[ETH_ALEN] = { 0xff, 0xff, 0xff, 0xff, 0xff, 0xff };

} // namespace

ArpResponder::ArpResponder(const SimConfig &config, SimLog *log, QObject *parent)
    : QObject(parent), m_config(config), m_log(log)
{
}

ArpResponder::~ArpResponder()
{
    if (m_socket >= 0) {
        ::close(m_socket);
    }
}

bool ArpResponder::start(QString *error)
{
    m_interfaceIndex = int(if_nametoindex(m_config.interfaceName.toLocal8Bit().constData()));
    if (m_interfaceIndex == 0) {
        *error = QStringLiteral("no interface %1").arg(m_config.interfaceName);
        return false;
    }
    m_socket = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ARP));
    if (m_socket < 0) {
        *error = QStringLiteral("packet socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    sockaddr_ll local {};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETH_P_ARP);
    local.sll_ifindex = m_interfaceIndex;
    if (::bind(m_socket, reinterpret_cast<sockaddr *>(&local), sizeof(local)) < 0) {
        *error
            = QStringLiteral("bind packet socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ArpResponder::onReadable);
    return true;
}

void ArpResponder::onReadable()
{
    char frame[1514];
    const ssize_t length = ::recv(m_socket, frame, sizeof(frame), MSG_DONTWAIT);
    if (length < kFrameSize) {
        return;
    }
    const auto *arp = reinterpret_cast<const ether_arp *>(frame + sizeof(ether_header));
    if (ntohs(arp->ea_hdr.ar_op) != ARPOP_REQUEST || ntohs(arp->ea_hdr.ar_pro) != ETHERTYPE_IP) {
        return;
    }
    quint32 target = 0;
    std::memcpy(&target, arp->arp_tpa, 4);
    target = ntohl(target);
    const bool own = target == m_config.address.toIPv4Address();
    const bool foreign = m_config.arpAnswerMask != 0
        && (target & m_config.arpAnswerMask) == m_config.arpAnswerNetwork && !own;
    if (!(own && m_config.answersOwnArp()) && !foreign) {
        return;
    }
    const int delay = qMax(0, m_config.arpDelayMs);
    if (own) {
        quint32 sender = 0;
        std::memcpy(&sender, arp->arp_spa, 4);
        const QString from = QHostAddress(ntohl(sender)).toString();
        if (m_dropped < m_config.arpDropCount) {
            ++m_dropped;
            m_log->write(QStringLiteral("arp request from %1 dropped (%2 of %3)")
                             .arg(from)
                             .arg(m_dropped)
                             .arg(m_config.arpDropCount));
            return;
        }
        m_log->write(
            QStringLiteral("arp request from %1 answered after %2 ms").arg(from).arg(delay));
    }
    const QByteArray request(frame, kFrameSize);
    if (delay == 0) {
        sendReply(request);
    } else {
        QTimer::singleShot(delay, this, [this, request] { sendReply(request); });
    }
}

void ArpResponder::sendReply(const QByteArray &requestFrame)
{
    const auto *request
        = reinterpret_cast<const ether_arp *>(requestFrame.constData() + sizeof(ether_header));
    char frame[kFrameSize];
    auto *ethernet = reinterpret_cast<ether_header *>(frame);
    auto *reply = reinterpret_cast<ether_arp *>(frame + sizeof(ether_header));
    std::memcpy(ethernet->ether_dhost, request->arp_sha, ETH_ALEN);
    std::memcpy(ethernet->ether_shost, m_config.hardwareAddress.constData(), ETH_ALEN);
    ethernet->ether_type = htons(ETHERTYPE_ARP);
    reply->ea_hdr = request->ea_hdr;
    reply->ea_hdr.ar_op = htons(ARPOP_REPLY);
    std::memcpy(reply->arp_sha, m_config.hardwareAddress.constData(), ETH_ALEN);
    std::memcpy(reply->arp_spa, request->arp_tpa, 4);
    std::memcpy(reply->arp_tha, request->arp_sha, ETH_ALEN);
    std::memcpy(reply->arp_tpa, request->arp_spa, 4);
    sendFrame(frame, request->arp_sha);
}

void ArpResponder::announce(int count)
{
    if (count <= 0) {
        return;
    }
    char frame[kFrameSize] {};
    auto *ethernet = reinterpret_cast<ether_header *>(frame);
    auto *request = reinterpret_cast<ether_arp *>(frame + sizeof(ether_header));
    std::memcpy(ethernet->ether_dhost, kBroadcast, ETH_ALEN);
    std::memcpy(ethernet->ether_shost, m_config.hardwareAddress.constData(), ETH_ALEN);
    ethernet->ether_type = htons(ETHERTYPE_ARP);
    request->ea_hdr.ar_hrd = htons(ARPHRD_ETHER);
    request->ea_hdr.ar_pro = htons(ETHERTYPE_IP);
    request->ea_hdr.ar_hln = ETH_ALEN;
    request->ea_hdr.ar_pln = 4;
    request->ea_hdr.ar_op = htons(ARPOP_REQUEST);
    std::memcpy(request->arp_sha, m_config.hardwareAddress.constData(), ETH_ALEN);
    const quint32 own = htonl(m_config.address.toIPv4Address());
    std::memcpy(request->arp_spa, &own, 4);
    std::memcpy(request->arp_tpa, &own, 4);
    sendFrame(frame, kBroadcast);
    m_log->write(QStringLiteral("announced %1").arg(m_config.address.toString()));
    QTimer::singleShot(kAnnounceIntervalMs, this, [this, count] { announce(count - 1); });
}

void ArpResponder::sendFrame(const char *frame, const unsigned char *destination)
{
    sockaddr_ll peer {};
    peer.sll_family = AF_PACKET;
    peer.sll_ifindex = m_interfaceIndex;
    peer.sll_halen = ETH_ALEN;
    std::memcpy(peer.sll_addr, destination, ETH_ALEN);
    ::sendto(m_socket, frame, kFrameSize, 0, reinterpret_cast<sockaddr *>(&peer), sizeof(peer));
}
