#include "ipv4route.h"

#include "netlink_linux.h"

#include <cstring>
#include <linux/rtnetlink.h>
#include <netinet/in.h>

Ipv4Route::Ipv4Route() : m_netlink(new LinuxNetlink) { }

Ipv4Route::~Ipv4Route() = default;

Ipv4Route::Hop Ipv4Route::to(quint32 address)
{
    rtmsg request {};
    request.rtm_family = AF_INET;
    request.rtm_dst_len = 32;
    Hop hop;
    const LinuxNetlink::Result result = m_netlink->get(
        RTM_GETROUTE, &request, sizeof(request), RTA_DST, htonl(address),
        [&hop](const nlmsghdr *message) {
            const auto *answer = static_cast<const rtmsg *>(NLMSG_DATA(message));
            bool viaGateway = false;
            int length = int(RTM_PAYLOAD(message));
            for (auto *attribute = RTM_RTA(answer); RTA_OK(attribute, length);
                 attribute = RTA_NEXT(attribute, length)) {
                if (attribute->rta_type == RTA_OIF) {
                    std::memcpy(&hop.interfaceIndex, RTA_DATA(attribute), sizeof(int));
                } else if (attribute->rta_type == RTA_GATEWAY) {
                    viaGateway = true;
                }
            }
            if (answer->rtm_type == RTN_LOCAL) {
                hop.kind = Kind::Local;
            } else if (answer->rtm_type == RTN_UNICAST && !viaGateway && hop.interfaceIndex > 0) {
                hop.kind = Kind::OnLink;
            } else if (answer->rtm_type == RTN_UNREACHABLE || answer->rtm_type == RTN_BLACKHOLE
                       || answer->rtm_type == RTN_PROHIBIT) {
                hop.kind = Kind::Unreachable;
            } else {
                hop.kind = Kind::Elsewhere;
            }
            return true;
        });
    if (result == LinuxNetlink::Result::Refused) {
        hop.kind = Kind::Unreachable; // the kernel found no route
    }
    return hop;
}
