#pragma once
#include <QString>

// The simulator's end of a TCP link: a listening socket and at most one client at a time,
// as a serial device server or a Modbus TCP gateway serves one master.
struct SimTcp {
    int listenFd = -1;
    int clientFd = -1;
    QString host;     // as given
    quint16 port = 0; // bound; 0 asked for a free one

    // "HOST:PORT" ("[::1]:PORT" for IPv6); port 0 picks a free port, kept from then on.
    bool listen(const QString &hostPort, QString *error);
    // Listens again on the port bound first (after stopListening).
    bool listenAgain(QString *error);
    // Connections are refused until listenAgain.
    void stopListening();
    // Takes a waiting connection; a second one while a client is served is closed at once.
    // True when a new client was taken; *peer names it.
    bool accept(QString *peer);
    void dropClient();
    void close();
    QString address() const; // "HOST:PORT" with the bound port

private:
    bool bindAndListen(QString *error);
};
