#pragma once
#include <QtGlobal>

// The millisecond tick: monotonic, wraps at 2^32 like the tick it replaces.
quint32 TickMs();
