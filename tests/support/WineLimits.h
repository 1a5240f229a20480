#pragma once

// What the Windows build's tests cannot check when they run under Wine rather
// than on Windows. Each limit is skipped by name, with its reason, and only
// under Wine: on Windows and elsewhere the test runs.

#include <QtTest>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

inline bool runningUnderWine()
{
#ifdef Q_OS_WIN
    // Wine's ntdll exports this; Windows' does not.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

// Wine's sockets treat every 127.x.y.z as 127.0.0.1: a datagram from a socket
// bound to 127.0.0.2 arrives as from 127.0.0.1, and one port cannot be bound
// on two of them. Tests of several units on their own loopback addresses, or
// of the address a reply came from, need what Wine cannot give.
#define SKIP_UNDER_WINE_LOOPBACK_ALIASES()                                                   \
    do {                                                                                     \
        if (runningUnderWine()) {                                                            \
            QTest::qSkip("Wine cannot bind or send from loopback addresses other than 127.0.0.1", \
                         __FILE__, __LINE__);                                                \
            return;                                                                          \
        }                                                                                    \
    } while (false)
