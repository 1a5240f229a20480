#pragma once

// What the Windows build's tests cannot do when they run under Wine rather
// than on Windows, each skipped by name with its reason; on Windows itself and
// elsewhere nothing is skipped. scripts/windows-test runs the suite this way.

#include <QtGlobal>
#include <QtTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

inline bool runningUnderWine()
{
#ifdef Q_OS_WIN
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// Loopback addresses other than 127.0.0.1: Windows serves the whole of
// 127.0.0.0/8, but Wine's sockets bind and answer from 127.0.0.1 only.
#define WINE_CANNOT_BIND_OTHER_LOOPBACK()                                                          \
    do {                                                                                           \
        if (runningUnderWine()) {                                                                  \
            QTest::qSkip("Wine cannot bind or send from loopback addresses other than 127.0.0.1",  \
                         __FILE__, __LINE__);                                                      \
            return;                                                                                \
        }                                                                                          \
    } while (false)
