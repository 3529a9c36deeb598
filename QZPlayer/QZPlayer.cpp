// The player program's one application object.
#include "PlayerApp.h"

CPlayerApp theApp;
