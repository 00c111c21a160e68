// Runs a history store for tst_history: see there.
#include "HistoryStore.h"
#include "StoreFixture.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return 0;
}
