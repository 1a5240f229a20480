#include "RequestFlags.h"

bool &RequestFlags::flag(Request request)
{
    switch (request) {
    case Request::GetNetwork:
        return PendingGetNetwork;
    case Request::SendNetwork:
        return PendingSendNetwork;
    case Request::GetG50:
        return PendingGetG50;
    case Request::SendG50:
        return PendingSendG50;
    case Request::GetBACnet:
        return PendingGetBACnet;
    case Request::SendBACnet:
        return PendingSendBACnet;
    case Request::GetNames:
        return PendingGetNames;
    case Request::SendNames:
        return PendingSendNames;
    case Request::Restart:
        return PendingRestart;
    case Request::MACDialog:
        return PendingMACDialog;
    case Request::StatusPoll:
        break;
    }
    return PendingStatusPoll;
}

std::optional<RequestRule> RequestFlags::firstRaised() const
{
    for (const RequestRule &rule : RequestOrder)
        if (isRaised(rule.request))
            return rule;
    return std::nullopt;
}

const char *requestName(Request request)
{
    static const char *const names[] = {"GetNetwork", "SendNetwork", "GetG50",    "SendG50",
                                        "GetBACnet",  "SendBACnet",  "GetNames",  "SendNames",
                                        "Restart",    "MACDialog",   "StatusPoll"};
    return names[int(request)];
}
