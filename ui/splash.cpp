#include "ui/splash.h"

Text splashText;
