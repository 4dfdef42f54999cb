#include "installer/licence_window.h"

void createLicenceWindow()
{
}
