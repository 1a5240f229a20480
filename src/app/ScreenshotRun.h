#pragma once

// The tool's hidden hooks for tests, demos and documentation, both switched on
// by environment variables:
//
// - RAVELIN_SCREENSHOT_DIR names a folder: the tool connects to the address
//   in its connect boxes (from the settings file), saves a PNG of the main
//   window on every visible tab into that folder, closes the session and
//   quits. Messages are printed, not shown.
// - RAVELIN_DEMO_CONNECT: the tool connects to that address once the window
//   is up, as if "Via Network" had been pressed.
//
// Neither hook ever dials a real network: both connect only to loopback
// addresses (127.0.0.0/8) and otherwise refuse with a warning on stderr. A
// settings file that cannot be read leaves the default unit address in the
// boxes, which is exactly the case this guards against.

class TMainForm;

enum class HookStart
{
    NotRequested, // the variable is not set
    Started,      // the hook runs once the event loop does
    Refused,      // the address is not a loopback address; nothing was done
};

HookStart startScreenshotRunIfRequested(TMainForm &form);
HookStart startDemoConnectIfRequested(TMainForm &form);
