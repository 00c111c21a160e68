#include "ConsoleView.h"

#include "ExitCodes.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {
QString g_lastErr;
const char *g_failureKey = nullptr;
QString g_failureMessage;
bool g_failureShown = false;
} // namespace

void NoteFailure(const char *key, const QString &message) {
    g_failureKey = key;
    g_failureMessage = message;
}

QJsonObject JsonFailure(int exitCode) {
    g_failureShown = true;
    const char *key = g_failureKey ? g_failureKey : ErrorKey::OfExitCode(exitCode);
    return {{"error", QString::fromLatin1(key)},
            {"exit", exitCode},
            {"message", g_failureMessage.isEmpty() ? g_lastErr : g_failureMessage}};
}

void PrintJsonFailure(int exitCode) {
    if (g_failureShown)
        return;
    PrintOut(
        QString::fromUtf8(QJsonDocument(JsonFailure(exitCode)).toJson(QJsonDocument::Compact)));
}

void PrintErr(const QString &text) {
    if (!text.trimmed().isEmpty())
        g_lastErr = text.trimmed();
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
