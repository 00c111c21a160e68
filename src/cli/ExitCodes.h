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

// The "error" of a --json failure: stable names a script can test, finer than the exit
// codes. Listed in the man page and the README; never renamed.
namespace ErrorKey {
inline constexpr const char *Usage = "usage";                       // 2
inline constexpr const char *UnknownSetting = "unknown-setting";    // 2
inline constexpr const char *PortNotSet = "port-not-set";           // 3
inline constexpr const char *PortUnusable = "port-unusable";        // 3
inline constexpr const char *NoAnswer = "no-answer";                // 4
inline constexpr const char *NotQor7070 = "not-qor7070";            // 5
inline constexpr const char *NoConfiguration = "no-configuration";  // 5
inline constexpr const char *FileRefused = "file-refused";          // 6
inline constexpr const char *ValueRefused = "value-refused";        // 6
inline constexpr const char *WriteFailed = "write-failed";          // 7
inline constexpr const char *ReadBackDiffers = "read-back-differs"; // 7
inline constexpr const char *Interrupted = "interrupted";           // 8

// The key of an exit code when the failing place named none.
inline const char *OfExitCode(int code) {
    switch (code) {
    case ExitCode::Usage:
        return Usage;
    case ExitCode::NoPort:
        return PortUnusable;
    case ExitCode::NoAnswer:
        return NoAnswer;
    case ExitCode::WrongDevice:
        return NotQor7070;
    case ExitCode::FileRefused:
        return FileRefused;
    case ExitCode::WriteFailed:
        return WriteFailed;
    default:
        return Interrupted;
    }
}
} // namespace ErrorKey
