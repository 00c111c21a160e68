// A history store in a process of its own, for tst_history: killed while it writes,
// limited in file size, or run as a user who may not write the folder.
//
//   history_child FOLDER write FIRST     batches FIRST, FIRST+1, ... until killed; after every
//                                        few a Flush and "committed N" on stdout
//   history_child FOLDER limited FIRST   the same, paced; "limit" on stdin limits the file
//                                        size to what the files hold now (EFBIG beyond),
//                                        "free" lifts it, "flush" flushes, "quit" ends
//   history_child FOLDER nobody FIRST    like limited, as user nobody when started as root
// It prints "open 1|0", "problem TEXT" when writing stops and "resumed" when it goes on.
// Batch N has the named readings of cycle N (36 sensors, 4 relays) at kT0 + N s and one
// event whose code is N.
#include "HistoryStore.h"
#include "StoreFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

void say(const QByteArray &line)
{
    const QByteArray out = line + '\n';
    [[maybe_unused]] auto n = ::write(STDOUT_FILENO, out.constData(), size_t(out.size()));
}

HistoryBatch Batch(int n)
{
    HistoryBatch b = NamedBatch(n, 36, kT0 + qint64(n) * 1000);
    HistoryEvent e;
    e.kind = EventKind::SensorStatus;
    e.subject = n % 36 + 1;
    e.code = n;
    e.alarm = n % 10 == 0;
    b.events.push_back(e);
    return b;
}

void limitFileSize(const QString &folder)
{
    qint64 largest = 64 * 1024; // the -shm file takes 32 KiB at once
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files))
        largest = std::max(largest, f.size());
    rlimit r;
    getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = rlim_t(largest);
    setrlimit(RLIMIT_FSIZE, &r);
}

void liftFileSize()
{
    rlimit r;
    getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_FSIZE, &r);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QByteArray mode = argv[2];
    int next = atoi(argv[3]);
    std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
    if (mode == "nobody" && geteuid() == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
            say("cannot become nobody");
            return 3;
        }
    }
    HistoryStore store(folder);
    QObject::connect(&store, &HistoryStore::problemChanged, [](const QString &text) {
        say(text.isEmpty() ? QByteArray("resumed") : "problem " + text.toUtf8());
    });
    say(store.Open() ? "open 1" : "open 0");

    QTimer timer;
    if (mode == "write") {
        // As fast as it goes; a Flush after 1 to 8 batches, so kills land everywhere.
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const int n = int(QRandomGenerator::global()->bounded(1, 9));
            for (int i = 0; i < n; ++i)
                store.Submit(Batch(next++));
            store.Flush();
            say("committed " + QByteArray::number(next - 1));
        });
        timer.start(0);
    } else {
        QObject::connect(&timer, &QTimer::timeout, [&] { store.Submit(Batch(next++)); });
        timer.start(20);
        auto *in = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
        QObject::connect(in, &QSocketNotifier::activated, [&] {
            char buf[256];
            const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf - 1);
            if (got <= 0) {
                app.quit();
                return;
            }
            for (const QByteArray &cmd : QByteArray(buf, got).split('\n')) {
                if (cmd == "limit") {
                    limitFileSize(folder);
                    say("limited");
                } else if (cmd == "free") {
                    liftFileSize();
                    say("freed");
                } else if (cmd == "flush") {
                    timer.stop();
                    store.Flush();
                    say("flushed " + QByteArray::number(next - 1) + " " +
                        (store.problem().isEmpty() ? "ok" : "problem"));
                } else if (cmd == "quit") {
                    app.quit();
                }
            }
        });
    }
    return app.exec();
}
