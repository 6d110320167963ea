// Engine-internal questions about the callback table.
#pragma once

// True when slot n holds a callback (so that work done only for its sake can be skipped).
bool rtoevent_has_callback(int n);
