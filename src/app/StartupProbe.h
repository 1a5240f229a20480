#pragma once

// Start-up measurement: with RAVELIN_STARTUP_PROBE set, a program prints
// "shown" on standard output as soon as its window is first exposed (mapped
// and about to be painted) and quits. bench/bench_startup.py times that line
// for the tool and for a bare Qt main window.

class QWidget;

// Returns false (and does nothing) when the variable is not set.
bool installStartupProbe(QWidget *window);
