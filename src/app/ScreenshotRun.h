#pragma once

// A hidden run mode for documentation and layout checks: when the variable
// RAVELIN_SCREENSHOT_DIR names a folder, the tool connects to the address in
// its settings file, saves a PNG of the main window on every visible tab into
// that folder, closes the session and quits. Messages are printed, not shown.

class TMainForm;

// True when the mode is requested; the run then starts once the event loop does.
bool startScreenshotRunIfRequested(TMainForm &form);
