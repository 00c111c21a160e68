#pragma once
#include <QString>

// What the link shows of itself; the main window's state implements it.
class LinkReporter {
public:
    virtual ~LinkReporter() = default;
    // Link trouble: grey lamp, text in status panel 0, the controller counts as lost.
    virtual void SetLinkDown(const QString &text) = 0;
    // Attempt number (1..3) of the current read, in status panel 2.
    virtual void ShowAttemptNumber(int attempt) = 0;
};
