#pragma once

// What a run of velmaris-cli ends with; scripts tell the failures apart by these.
namespace ExitCode {
inline constexpr int Ok = 0;
inline constexpr int Usage = 2;       // unknown subcommand or option, a bad option value
inline constexpr int NoPort = 3;      // the port cannot be opened or set up
inline constexpr int NoAnswer = 4;    // the controller does not answer (or stopped answering)
inline constexpr int WrongDevice = 5; // not a QOR7070, or no configuration for its firmware
inline constexpr int FileRefused = 6; // a file cannot be read, written or used (profile
                                      // refused, firmware mismatch, values out of limits)
inline constexpr int WriteFailed = 7; // the controller refused or did not confirm a write
inline constexpr int Interrupted = 8; // SIGINT/SIGTERM before the work was done
} // namespace ExitCode
