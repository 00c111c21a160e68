// The long fault soak: the poll engine against qor7070-sim --named-values with every fault
// kind at 5 % (seeded), paced and unpaced, checking every cell the engine writes.
// Usage: bench_soak [TRANSACTIONS [paced|unpaced|tcp|mbtcp]] (default 100000 per line
// setting, paced and unpaced on the pty; one setting each lets runs share the machine's
// cores; tcp and mbtcp run unpaced over loopback, RTU frames or Modbus TCP)
#include "Soak.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int transactions = argc > 1 ? atoi(argv[1]) : 100000;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    const QList<QByteArray> lines{"paced", "unpaced", "tcp", "mbtcp"};
    if (!only.isEmpty() && !lines.contains(only)) {
        fprintf(stderr, "usage: bench_soak [TRANSACTIONS [paced|unpaced|tcp|mbtcp]]\n");
        return 2;
    }
    printf("| line | transactions | faults | cycles | cells checked | misplaced | link-downs | "
           "back online ms | "
           "RSS kB at 10 %% | RSS kB at end | growth kB | s "
           "|\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    int failures = 0;
    // Without a choice the pty's two line settings, as before the network ports came.
    const QList<QByteArray> runs = only.isEmpty() ? QList<QByteArray>{"paced", "unpaced"}
                                                  : QList<QByteArray>{only};
    for (const QByteArray &line : runs) {
        SoakOptions o;
        o.transactions = transactions;
        o.paced = line == "paced";
        if (line == "tcp")
            o.transport = SimProcess::Transport::TcpRtu;
        else if (line == "mbtcp")
            o.transport = SimProcess::Transport::TcpMbap;
        const SoakResult r = RunSoak(o);
        if (!r.error.isEmpty())
            fprintf(stderr, "soak: %s\n", qPrintable(r.error));
        printf("| %s | %d | %d | %d | %lld | **%d** | %d | %d | %lld | %lld | %lld | %.0f |\n",
               o.paced ? "paced 115200" : line.constData(), r.transactions, r.faults, r.cycles,
               r.cellsChecked, r.misplaced, r.linkDowns, r.recoveryMs, r.rssStartKb, r.rssEndKb,
               r.rssEndKb - r.rssStartKb, r.seconds);
        if (!r.firstMisplaced.isEmpty())
            printf("first misplaced: %s\n", qPrintable(r.firstMisplaced));
        fflush(stdout);
        failures +=
            !r.error.isEmpty() || r.misplaced || !r.recovered || r.rssEndKb - r.rssStartKb > 1024;
    }
    return failures ? 1 : 0;
}
