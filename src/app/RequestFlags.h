#pragma once

// The pending-request flags the scheduler serves, and the fixed order in which
// it serves them. Pure data; the main window's DispatchRequest acts on it.

#include <array>
#include <optional>

enum class Request
{
    GetNetwork,
    SendNetwork,
    GetG50,
    SendG50,
    GetBACnet,
    SendBACnet,
    GetNames,
    SendNames,
    Restart,
    MACDialog,
    StatusPoll,
};

// How the scheduler treats one request. Page gets and sends keep their flag
// raised while they run (their page's change handler ignores the values a get
// writes) and re-enable the controls afterwards; the restart and the MAC dialog
// lower theirs first; the status poll re-arms Timer1 instead.
struct RequestRule
{
    Request request;
    bool clearBefore;
    bool enableAfter;
};

// Priority order: the first raised flag in this table is served.
inline constexpr std::array<RequestRule, 11> RequestOrder{{
    {Request::GetNetwork, false, true},
    {Request::SendNetwork, false, true},
    {Request::GetG50, false, true},
    {Request::SendG50, false, true},
    {Request::GetBACnet, false, true},
    {Request::SendBACnet, false, true},
    {Request::GetNames, false, true},
    {Request::SendNames, false, true},
    {Request::Restart, true, false},
    {Request::MACDialog, true, false},
    {Request::StatusPoll, false, false},
}};

struct RequestFlags
{
    bool PendingGetNetwork = false;
    bool PendingSendNetwork = false;
    bool PendingGetG50 = false;
    bool PendingSendG50 = false;
    bool PendingGetBACnet = false;
    bool PendingSendBACnet = false;
    bool PendingGetNames = false;
    bool PendingSendNames = false;
    bool PendingRestart = false;
    bool PendingMACDialog = false;
    bool PendingStatusPoll = false;
    bool CloseRequested = false;

    bool &flag(Request request);
    bool isRaised(Request request) const { return const_cast<RequestFlags *>(this)->flag(request); }
    // The rule of the first raised request in priority order, if any.
    std::optional<RequestRule> firstRaised() const;
};

const char *requestName(Request request);
