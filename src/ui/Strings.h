// The string table for the windows: the lookup and the language choice live
// below the widget layer, where radar-cli and the firmware transfer use them
// too.
#pragma once

#include "strings/StringTable.h"
