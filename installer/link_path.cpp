#include "installer/link_path.h"

namespace {

// One walk over a link path by the macro rules. With `folders` set it builds the expansion
// in `expanded` and gives up as soon as the text outgrows the limit (a hostile package
// could otherwise ask for thousands of copies of a long folder); without, it only notes in
// `used` which folders the macros name.
bool walkLinkPath(const char* linkPath, const std::string (*folders)[kShellFolderCount],
                  std::string* expanded, unsigned* used)
{
    const char* p = linkPath;
    while (*p) {
        if (*p != '$') {
            if (expanded) *expanded += *p;
            ++p;
        } else {
            if (p[1] == '\0') break;
            int folder = shellFolderOfMacro(p[1]);
            if (folder >= 0) {
                if (used) *used |= 1u << folder;
                if (expanded) *expanded += (*folders)[folder];
            }
            p += 2;
            // Copied as it is: "$D$P" is the desktop followed by the two characters "$P".
            if (*p != '\0') {
                if (expanded) *expanded += *p;
                ++p;
            }
        }
        if (expanded && expanded->size() > kMaxExpandedLinkPath) return false;
    }
    return true;
}

}  // namespace

int shellFolderOfMacro(char letter)
{
    switch (letter) {
    case 'D': return kDesktopFolder;
    case 'P': return kProgramsFolder;
    case 'S': return kStartMenuFolder;
    case 's': return kStartupFolder;
    default: return -1;
    }
}

const char* shellFolderValueName(int folder)
{
    switch (folder) {
    case kDesktopFolder: return "Desktop";
    case kProgramsFolder: return "Programs";
    case kStartMenuFolder: return "Start Menu";
    case kStartupFolder: return "Startup";
    default: return "";
    }
}

unsigned linkPathFolders(const char* linkPath)
{
    unsigned used = 0;
    walkLinkPath(linkPath, nullptr, nullptr, &used);
    return used;
}

bool expandLinkPathText(const char* linkPath, const std::string (&folders)[kShellFolderCount],
                        std::string& expanded)
{
    expanded.clear();
    if (!walkLinkPath(linkPath, &folders, &expanded, nullptr)) {
        expanded.clear();
        return false;
    }
    return true;
}

bool isSavableLinkPath(const std::string& path)
{
    if (path.size() < 3 || path.size() > kMaxSavedLinkPath) return false;
    char drive = path[0];
    bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    return letter && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}
