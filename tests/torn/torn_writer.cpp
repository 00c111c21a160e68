// Rewrites one file over and over until it is killed: start.ini, a profile, or trend rows.
// Prints "writing" once the first write is done, so the killer knows it is under way.
// Usage: torn_writer ini|profile|trend FILE FIRST_GENERATION
#include "TornVersions.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const QByteArray mode = argv[1];
    const QString path = QString::fromLocal8Bit(argv[2]);
    int k = atoi(argv[3]);
    bool told = false;
    auto tell = [&] {
        if (!told) {
            std::puts("writing");
            std::fflush(stdout);
            told = true;
        }
    };
    if (mode == "ini") {
        MemIniFile ini(path);
        for (;; ++k) {
            Torn::SetIniVersion(ini, k);
            if (!ini.updateFile())
                return 1;
            tell();
        }
    }
    if (mode == "profile") {
        MemIniFile settings{QString()}, device{QString()};
        for (;; ++k) {
            Torn::ProfileTables t(k);
            if (!SaveProfileFile(path, t.user(), QStringLiteral("2.0"), QStringLiteral("1.2"), true,
                                 Torn::QuietContext(settings, device)))
                return 1;
            tell();
        }
    }
    if (mode == "trend") {
        TrendFile file(path);
        const QDateTime when = QDateTime::currentDateTime();
        for (;; ++k) {
            if (!file.WriteRow(Torn::TrendRow(k).readings(), when))
                return 1;
            tell();
        }
    }
    return 2;
}
