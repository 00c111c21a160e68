#pragma once
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

// Answers modal windows as they come up: records message boxes (caption | text) and closes
// them with OK; a dialog with a registered handler gets that handler.
class ModalAnswerer : public QObject {
public:
    ModalAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(10);
    }
    void onDialog(const QString &name, std::function<void(QWidget *)> handler)
    {
        m_handlers.append({name, std::move(handler)});
    }
    QStringList messages;

    // The password dialog, answered once.
    void password(const QString &text)
    {
        onDialog("Form3", [text](QWidget *d) {
            if (text.isNull()) {
                QTest::mouseClick(d->findChild<QPushButton *>("ButtonCancel"), Qt::LeftButton);
                return;
            }
            auto *edit = d->findChild<QLineEdit *>("Edit1");
            QTest::keyClicks(edit, text);
            QTest::keyClick(edit, Qt::Key_Return);
        });
    }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            m_busy = nullptr;
        if (!modal || modal == m_busy)
            return;
        // A registered handler first: a named message box (a question) gets its own answer.
        for (qsizetype i = 0; i < m_handlers.size(); ++i)
            if (!modal->objectName().isEmpty() && m_handlers[i].first == modal->objectName()) {
                auto handler = m_handlers.takeAt(i).second;
                busy(modal);
                // Outside this timer's slot, so that boxes the handler opens are answered too.
                QTimer::singleShot(0, modal, [handler, modal] { handler(modal); });
                return;
            }
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            messages.append(box->windowTitle() + " | " + box->text());
            busy(box);
            QMetaObject::invokeMethod(box, [box] { box->accept(); }, Qt::QueuedConnection);
            return;
        }
    }
    // Until it closes; a dialog shown again is a new case.
    void busy(QWidget *modal)
    {
        m_busy = modal;
        if (auto *d = qobject_cast<QDialog *>(modal))
            connect(d, &QDialog::finished, this, [this] { m_busy = nullptr; }, Qt::SingleShotConnection);
    }
    QTimer m_timer;
    QPointer<QWidget> m_busy;
    QList<std::pair<QString, std::function<void(QWidget *)>>> m_handlers;
};
