// The application framework: everything a program of ours derives from.
#pragma once

#include "App.h"
#include "Controls.h"
#include "Dialog.h"
#include "FileDialog.h"
#include "Gdi.h"
#include "Handles.h"
#include "Internet.h"
#include "OleControl.h"
#include "Types.h"
#include "Wnd.h"
