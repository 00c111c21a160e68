#pragma once
#include "MemIniFile.h"
#include "PlantConfig.h"

#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct TextKey;
class MqttPlantFeeds;
class Plant;
class PlantDialog;
class QFrame;
class QLabel;
class QListWidget;
class QTableWidget;
class QToolBar;
class QToolButton;
class TForm1;
class TForm3;

// `velmaris --plant`: one row per controller of plant.ini, in the file's order, updated after
// each of its steps. A click on a count lists those sensors; a double-click opens the
// controller's own window, driven by the plant.
class PlantView : public QMainWindow {
    Q_OBJECT
public:
    // The columns of PlantTable.
    enum Column {
        ColName, ColLink, ColDevice, ColRegistered, ColHottest, ColOver1, ColOver2, ColNoPower,
        ColFaulty, ColUpdated, ColAlarms, ColumnCount
    };

    // The working folder is the current directory: plant.ini, start.ini, Cfg/ and the
    // controllers' folders are there.
    explicit PlantView(QWidget *parent = nullptr);
    ~PlantView() override;

    // At start-up, before polling: the password (asked with open()) unless fullAccess
    // is given, then plant.ini read and the plant started; without a plant.ini the view
    // stays empty and the dialog is offered.
    void Start(std::optional<bool> fullAccess = std::nullopt);

    Plant *plant() { return m_plant.get(); }
    // The window of controller i while one is open.
    TForm1 *controllerWindow(int i);
    PlantDialog *dialog();
    QTableWidget &table() { return *m_table; }
    // The sensor list of the count clicked last (PlantSensorList), while shown.
    QListWidget *sensorList();

    // Opens controller i's window, or raises it when open.
    void OpenController(int i);
    // The configuration replaces the running plant: its windows close, the plant restarts.
    void Restart(const PlantConfig &config);

public slots:
    void ToolButtonPlantClick();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void OpenPlant(); // plant.ini read and the plant started, or the dialog offered
    void StartPlant(const PlantConfig &config);
    void StartMqtt(); // [mqtt] of start.ini for the running plant
    void FitWidthToTable();
    void BetweenSteps(const std::function<void()> &what);
    void StopThen(const std::function<void()> &what);
    void StopPlant();
    void BuildTable();
    void ShowRow(int i);
    void ShowSensorList(int row, int col);
    QString SensorListText(int row, const std::vector<int> &sensors) const;
    void ApplyCaptions();
    void ShowProblem(const QString &text);
    void TestConnection(const PlantEntry &e, std::function<void(const QString &)> done);
    QString Text(const TextKey &key) const;

    MemIniFile m_settings; // start.ini of the working folder: the language
    std::unique_ptr<Plant> m_plant;
    std::unique_ptr<MqttPlantFeeds> m_mqtt; // [mqtt] enabled: every controller published
    QLabel *m_mqttStatus = nullptr;         // StatusBarMqtt: the last change of a bridge
    std::vector<QPointer<TForm1>> m_windows; // by controller
    QSet<int> m_opening;                     // asked for, opened between steps
    QList<QPointer<TForm1>> m_closed;        // closed, deleted between steps
    bool m_fullAccess = false;
    bool m_stopped = false; // closing: the plant has stopped
    QToolBar *m_toolBar = nullptr;
    QToolButton *m_plantButton = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_problem = nullptr;
    QPointer<QFrame> m_sensorPopup;
    QPointer<PlantDialog> m_dialog;
};
