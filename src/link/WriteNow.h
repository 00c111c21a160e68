#pragma once

#include <QtGlobal>

// Writes what a descriptor takes at once, without blocking: the count written (0 when it
// takes nothing or fails). A request is a few bytes and the driver takes them whole, so it
// needs no write notifier switched on and off and no bytesWritten round through the event
// loop; whatever is left goes the port's or socket's own way. Unix only.
qint64 WriteNow(qintptr descriptor, const char *data, qint64 size, bool socket);
