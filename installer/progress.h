// The progress bar's arithmetic, apart from the drawing so that it can be tested alone.
#pragma once

#include <cstdint>

// The fill's pixel span for a client area whose right edge is clientRight: the room
// between the frame's two columns less the one-pixel gap on each side. A client area too
// narrow for the frame has no span, rather than a span that wraps around.
std::uint32_t progressSpan(int clientRight);

// How many of span pixels show done bytes of total. The product is formed in 64 bits, so
// no package is too large for it. A total of 0 shows nothing, and a done count above the
// total (a package whose stated total is too small) shows a full bar, never more.
std::uint32_t progressFill(std::uint32_t span, std::uint32_t done, std::uint32_t total);
