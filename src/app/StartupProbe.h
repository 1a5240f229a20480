#pragma once

// Start-up: work the first picture of the window does not need runs once the
// window has been shown; and the start-up measurement behind
// bench/bench_startup.py.

#include <functional>

class QWidget;

// Runs action once, right after the window's first expose (it has been mapped
// and painted), or after a second at the latest should no expose come.
void whenFirstShown(QWidget *window, std::function<void()> action);

// With RAVELIN_STARTUP_PROBE set, prints "shown" on standard output as soon as
// the window has first been shown, then quits. Returns false (and does
// nothing) when the variable is not set.
bool installStartupProbe(QWidget *window);
