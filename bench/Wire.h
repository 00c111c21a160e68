#pragma once
#include <QtGlobal>

// Wire time of one read of n registers at baud: request 8 characters, 3.5 characters of
// silence, answer 5 + 2n characters; 11 bits a character (start, 8 data, parity or second
// stop, stop), as the simulator paces it.
inline double ReadWireChars(int registers) { return 8 + 3.5 + 5 + 2.0 * registers; }
inline double WireMs(double chars, int baud) { return chars * 11 * 1000.0 / baud; }
