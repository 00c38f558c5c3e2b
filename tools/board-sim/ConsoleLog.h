// The emulator logs through the tools' shared console sink.
#pragma once

#include "common/ConsoleLog.h"
