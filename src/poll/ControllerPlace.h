#pragma once
#include <QString>

class SerialLink;

// Where a controller's state lives. The single window's is the working folder and a link
// of its own; a plant controller's is its own folder (start.ini, default.ini, Trends/)
// and the link of its bus.
struct ControllerPlace {
    QString folder;             // empty: the working folder, as the single window
    QString cfgFolder;          // where Cfg/ is; empty: folder
    QString cfgOverride;        // a Cfg file to use instead of the one chosen by firmware
    SerialLink *link = nullptr; // a bus's link shared with others; null: one of its own
};
