// The long fault soak: the poll engine against qor7070-sim --named-values with every fault
// kind at 5 % (seeded), paced and unpaced, checking every cell the engine writes.
// Usage: bench_soak [TRANSACTIONS [paced|unpaced]] (default 100000 per line setting, both;
// one line setting each lets two runs share the machine's two cores)
#include "Soak.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int transactions = argc > 1 ? atoi(argv[1]) : 100000;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    if (!only.isEmpty() && only != "paced" && only != "unpaced") {
        fprintf(stderr, "usage: bench_soak [TRANSACTIONS [paced|unpaced]]\n");
        return 2;
    }
    printf("| line | transactions | faults | cycles | cells checked | misplaced | link-downs | "
           "back online ms | "
           "RSS kB at 10 %% | RSS kB at end | growth kB | s "
           "|\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    int failures = 0;
    for (const bool paced : {true, false}) {
        if (!only.isEmpty() && (only == "paced") != paced)
            continue;
        SoakOptions o;
        o.transactions = transactions;
        o.paced = paced;
        const SoakResult r = RunSoak(o);
        if (!r.error.isEmpty())
            fprintf(stderr, "soak: %s\n", qPrintable(r.error));
        printf("| %s | %d | %d | %d | %lld | **%d** | %d | %d | %lld | %lld | %lld | %.0f |\n",
               paced ? "paced 115200" : "unpaced", r.transactions, r.faults, r.cycles,
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
