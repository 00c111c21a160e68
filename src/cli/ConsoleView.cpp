#include "ConsoleView.h"

#include <QCoreApplication>
#include <cstdio>

void PrintErr(const QString &text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

void PrintOut(const QString &text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void ConsoleView::ShowStatus(int panel, const QString &text) {
    if (panel < 0 || panel > 3)
        return;
    status[panel] = text;
    if (panel == 2 && !unknownDeviceText.isEmpty() && text == unknownDeviceText)
        unknownDevice = true;
    if (panel == 0 && echoLink && text != m_lastEcho && !text.isEmpty()) {
        m_lastEcho = text;
        PrintErr(text);
    }
}

void ConsoleView::ShowMessage(const QString &caption, const QString &text, Icon) {
    PrintErr(caption + QStringLiteral(": ") + text);
}

void ConsoleView::ProcessMessages() {
    QCoreApplication::processEvents();
}

void ConsoleView::ShowProgress(const QString &text) {
    if (echoProgress && !quietProgress.contains(text))
        PrintErr(text);
}
