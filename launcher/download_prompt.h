// The offer to download Java when no usable runtime exists, and the start of the web
// browser that Windows has registered for HTML files.
#pragma once

// Shows the reason, then asks whether to visit the download site and opens it on Yes.
// Ends the process with exit code 0 (1 when the browser cannot be started); never returns.
[[noreturn]] void offerJavaDownload(const char* reason);

// Starts the registered web browser on the configured site, maximized. Returns only when
// it started; otherwise ends the process through showFatalError.
void openWebsite();
