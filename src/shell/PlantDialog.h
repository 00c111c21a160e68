#pragma once
#include "PlantConfig.h"

#include <QDialog>
#include <functional>

class MemIniFile;
struct TextKey;
class QLabel;
class QPushButton;
class QTableWidget;

// The plant's controllers edited: added, removed, renamed, moved, their port, address, line
// settings and Cfg file changed, one's connection tried. OK checks the plant and writes
// plant.ini; a plant that is refused is told and nothing is written.
class PlantDialog : public QDialog {
    Q_OBJECT
public:
    enum Column { ColName, ColPort, ColAddress, ColSpeed, ColParity, ColStopbits, ColCfg, ColumnCount };

    PlantDialog(const MemIniFile &settings, const QString &workFolder, QWidget *parent = nullptr);

    // Shows the plant (window-modal, open(): the caller goes on at once).
    void Edit(const PlantConfig &config);
    // The plant as the table stands.
    PlantConfig config() const;
    QTableWidget &table() { return *m_table; }
    void ApplyCaptions();

    // Tries one controller; done gets the line to show. Given by the owner (through the
    // plant's bus); it must return at once and call done later.
    std::function<void(const PlantEntry &, std::function<void(const QString &)> done)> testConnection;

signals:
    // plant.ini was written with this plant.
    void PlantWritten(const PlantConfig &config);

public slots:
    void accept() override;
    void ButtonAddClick();
    void ButtonRemoveClick();
    void ButtonUpClick();
    void ButtonDownClick();
    void ButtonTestClick();

private:
    void Fill(const PlantConfig &config, int current);
    void SetRow(int row, const PlantEntry &e);
    PlantEntry RowEntry(int row) const;
    QString Text(const TextKey &key) const;

    const MemIniFile &m_settings;
    QString m_workFolder;
    QTableWidget *m_table;
    QPushButton *m_add, *m_remove, *m_up, *m_down, *m_test, *m_ok, *m_cancel;
    QLabel *m_testResult;
    int m_testSerial = 0; // a result for an earlier test is not shown
};
