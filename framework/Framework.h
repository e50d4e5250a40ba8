#pragma once
// Everything the application and its dialog use from the framework.

#include "Button.h"
#include "CmdTarget.h"
#include "ComboBox.h"
#include "DataExchange.h"
#include "Dialog.h"
#include "DialogUnits.h"
#include "FileDialog.h"
#include "Font.h"
#include "ListBox.h"
#include "MessageBox.h"
#include "MessageMap.h"
#include "PaintDC.h"
#include "WaitCursor.h"
#include "WinApp.h"
#include "WindowDpi.h"
#include "Wnd.h"
