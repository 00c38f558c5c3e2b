// The library's own records: FLK_LOG hands them across the C interface to whatever log handler the
// host installed (the Boost.Log bridge a host compiles, or its own); the library itself links no
// logging library and adds no sinks.
#pragma once

#include <ferrolink/api/LogRecord.h>
