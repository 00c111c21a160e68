#pragma once
#include <QDialog>
#include <QList>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class MemIniFile;

// The program's own link settings ([connect] of start.ini).
class TConparDlg : public QDialog {
    Q_OBJECT
public:
    explicit TConparDlg(MemIniFile &settings, QWidget *parent = nullptr);

    // Fills the controls from [connect] and opens the dialog; it returns at once. After a
    // successful OK the thirteen keys are written back and SettingsStored is emitted (the
    // opener saves start.ini and reopens the port).
    void Edit();
    void ApplyLanguage();

    bool settingsAccepted = false;

    // A port the system has: its path and what it is (adapter, maker, serial number).
    struct SystemPort {
        QString path;
        QString description;
    };
    // The serial ports the system reports and the links of /dev/serial/by-id (a test puts
    // its own list here).
    std::function<QList<SystemPort>()> systemPorts;
    static QList<SystemPort> FindSystemPorts();
    // The port list's order: USB adapters, ACM modems, stable by-id links, other ports the
    // system reports; each group in natural order ("ttyUSB2" before "ttyUSB10").
    static QList<SystemPort> OrderedPorts(QList<SystemPort> ports);

signals:
    void SettingsStored();

private slots:
    void OKBtnClick();
    void CancelBtnClick();

private:
    void Fill();
    void FillPortList();
    void Store();
    void DialogFinished();
    // The characters of the port name Windows-1251 cannot hold; empty when it can hold all.
    QString PortNameUnfit() const;
    QString PortNameMessage(const QString &unfit) const;
    void ShowPortNameFit();
    QLineEdit *edit(const QString &name, QLabel *&label, const QString &labelName,
                    const QString &text, bool editable);

    MemIniFile &m_settings;
    QLineEdit *EditAdr, *EditSend, *EditSleep, *EditReceive, *Edit1, *Edit2, *Edit3, *Edit5,
        *Edit6;
    QComboBox *ComboBox1, *ComboBox2, *ComboBox3, *ComboBoxStops;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9,
        *Label10, *Label11, *Label12, *Label13;
    QLabel *LabelPortCharset; // says so while the typed port name cannot be stored
    QGroupBox *GroupBox1, *GroupBox2, *GroupBox3, *GroupBox4;
    QPushButton *OKBtn, *CancelBtn;
};
