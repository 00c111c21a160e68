#pragma once
#include <QDialog>
#include <functional>

struct TextKey;

class QLabel;
class QLineEdit;
class QPushButton;

// The password asked for at start-up: it decides between full access and monitoring only.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);
    // 0: no valid password; 1 or 2: one of the two passwords.
    int accessLevel = 0;
    // Texts of the language in use (the refusal's too, shown later).
    void ApplyLanguage(const std::function<QString(const TextKey &)> &text);

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void ButtonOKClick();

private:
    QLabel *Label1;
    QLineEdit *Edit1;
    QPushButton *ButtonOK, *ButtonCancel;
    QString m_refusalCaption, m_refusal;
};
