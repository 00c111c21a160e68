#pragma once
#include <vector>

// What one write-back operation did to the controller, register by register: the source of
// the audit trail. Registers an operation never reached (it ended early) are NotSent.
struct WriteReport {
    enum class Operation { Sensors, Relays, Connection };
    enum class Result { Confirmed, Failed, NotSent };
    struct Register {
        int reg = 0;
        int before = -1; // the controller copy's word, -1 where the copy was not read
        int after = 0;
        Result result = Result::NotSent;
    };

    Operation operation = Operation::Sensors;
    bool fromProfile = false; // one part of a profile loaded into the controller
    bool ok = false;
    std::vector<Register> registers;
};
