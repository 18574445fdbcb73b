#pragma once

#include <windows.h>

// The Application log's source "Quietwire", opened at the first call that finds the event log service and kept for the
// program's life (the warnings and the record share it); nullptr where there is no event log service.
HANDLE quietwireEventSource();
