#include "installer/uninstall_registration.h"

void registerUninstaller(const char*, const char*, const char*, const char*)
{
}
