#include "installer/progress.h"

// The frame runs from x = 30 to x = right - 30 and the fill starts at x = 32, so a full row
// ends at right - 32, one pixel inside the frame.
std::uint32_t progressSpan(int clientRight)
{
    return clientRight > 63 ? static_cast<std::uint32_t>(clientRight - 63) : 0;
}

std::uint32_t progressFill(std::uint32_t span, std::uint32_t done, std::uint32_t total)
{
    if (total == 0) return 0;
    std::uint64_t filled = static_cast<std::uint64_t>(span) * done / total;
    return filled > span ? span : static_cast<std::uint32_t>(filled);
}
