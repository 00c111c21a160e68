#pragma once
#include <QDialog>

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

    // Fills the controls from [connect], shows the dialog modally and, after OK, writes the
    // thirteen keys back. True when they were written (the caller saves and reopens).
    bool Edit();
    void ApplyLanguage();

    bool settingsAccepted = false;

private slots:
    void OKBtnClick();
    void CancelBtnClick();

private:
    void Fill();
    void Store();
    QLineEdit *edit(const QString &name, QLabel *&label, const QString &labelName,
                    const QString &text, bool editable);

    MemIniFile &m_settings;
    QLineEdit *EditAdr, *EditSend, *EditSleep, *EditReceive, *Edit1, *Edit2, *Edit3, *Edit5,
        *Edit6;
    QComboBox *ComboBox1, *ComboBox2, *ComboBox3, *ComboBoxStops;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9,
        *Label10, *Label11, *Label12, *Label13;
    QGroupBox *GroupBox1, *GroupBox2, *GroupBox3, *GroupBox4;
    QPushButton *OKBtn, *CancelBtn;
};
