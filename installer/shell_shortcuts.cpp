#include "installer/shell_shortcuts.h"

void createShortcuts()
{
}
