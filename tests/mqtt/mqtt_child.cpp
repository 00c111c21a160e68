// A bridge in a process of its own, for what a test cannot do to itself: being killed.
// Arguments: URL PREFIX CONTROLLER. Says "online" on its status topic, prints "connected"
// once the broker took it, then waits for its end.
#include "MqttBridge.h"
#include "MemIniFile.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: mqtt_child URL PREFIX CONTROLLER\n");
        return 2;
    }
    MemIniFile texts{QString()};
    MqttSettings s;
    s.url = args[1];
    s.prefix = args[2];
    s.keepAliveSeconds = 5;
    MqttBridge bridge(s, args[3], texts, QStringLiteral("child"));
    QObject::connect(&bridge, &MqttBridge::stateChanged, &app,
                     [](MqttBridge::State state, const QString &text) {
                         if (state == MqttBridge::State::Connected)
                             std::printf("connected\n");
                         else
                             std::printf("state %s\n", qPrintable(text));
                         std::fflush(stdout);
                     });
    QString error;
    if (!bridge.Start(error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    bridge.PublishRetained(bridge.topic(QStringLiteral("status")), "online");
    return app.exec();
}
