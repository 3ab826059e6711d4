// host_docs.cpp: the documentation of the window operations both viewers share.
#include "host.h"

namespace marnox::viewer::host {

const char* const kSpinDoc =
    "Run the window's event loop until the window is closed or stop() ends it.\n"
    "\n"
    "Returns at once when there is no interactor (before init(), or off screen) and\n"
    "after stop(). Nothing is refreshed while the loop runs: for live content, call\n"
    "render() from your own loop instead. Returns None.\n";

const char* const kStopDoc =
    "Close the window (finalise it), then end a running event loop.\n"
    "\n"
    "_interactor stays set. A stopped viewer stays closed: render() still runs the\n"
    "per-frame updates but draws nothing, spin() returns at once, and init() and\n"
    "screenshot() raise RuntimeError, because drawing would reopen the window.\n"
    "setProject() and the viewer's other operations keep working on its content.\n"
    "Calling stop() again does no harm. Returns None.\n";

const char* const kScreenshotDoc =
    "Write the window's content to the PNG file filename.\n"
    "\n"
    "The window is drawn anew and its back buffer read: RGBA, 8 bits per channel, at the\n"
    "window's size, on screen or off screen. An existing file is replaced. Returns None.\n"
    "\n"
    "Parameters:\n"
    "    filename: exactly a str whose lower-cased form ends with MX_IMAGE_FILE_EXT\n"
    "        (an assertion, skipped under python -O).\n"
    "\n"
    "Raises TypeError if filename is not a str, OSError naming the file if it could not\n"
    "be written (a missing folder, no permission), leaving no partial file, and\n"
    "RuntimeError after stop(). If _window is None it prints \"Window not initialized,\n"
    "cannot take a screenshot\" and writes nothing.\n"
    "\n"
    "Example::\n"
    "\n"
    "    viewer.init(offscreen=True)\n"
    "    viewer.render()\n"
    "    viewer.screenshot(\"cell.png\")\n";

}  // namespace marnox::viewer::host
