#ifndef LABOPTIONSPANEL_H
#define LABOPTIONSPANEL_H

#include "audio/AudioEngine.h"
#include "common/ListenerScreen.h"

#include <QObject>

class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpinBox;

// The session panel's rows for what a lab sets up around a run: where the
// listener's window goes ("Listener screen"), which output plays the sounds
// ("Audio output") and how often the listener gets a break ("Break every
// (trials)"). Each change is reported through changed(), so that it can be
// remembered. Below them, "Group report" asks for a report over many
// sessions (groupReportRequested()).
class LabOptionsPanel : public QObject
{
    Q_OBJECT

public:
    // Adds four rows to grid from firstRow on, each spanning columns
    // columns.
    LabOptionsPanel(QGridLayout *grid, int firstRow, int columns, QObject *parent = nullptr);
    ~LabOptionsPanel() override;

    // The choices, with the remembered one selected. One that is not among
    // them (a screen or an output not connected now) is added, marked "not
    // connected", and selected all the same, so that it stays remembered.
    void setListenerScreens(const QVector<ListenerScreenChoice> &choices, const QString &selectedKey);
    QString listenerScreen() const;
    // The server's outputs after its default; selected by name.
    void setAudioOutputs(const QVector<AudioDeviceDescription> &outputs, const QString &selectedName);
    QString audioOutput() const;
    void setBreakEvery(int trials);
    int breakEvery() const;   // 0: no breaks

    // While a run lasts the main window is disabled; nothing here changes.
    QComboBox *listenerScreenBox() const { return comboBoxListenerScreen; }
    QComboBox *audioOutputBox() const { return comboBoxAudioOutput; }
    QSpinBox *breakEveryBox() const { return spinBoxBreakEvery; }

    // "Group report": a row of its own under the three above.
    QPushButton *groupReportButton() const { return pushButtonGroupReport; }
    // A button for a lab task ("Calibrate level", ...) on a row of its own
    // below the others; the caller connects it.
    QPushButton *addTaskButton(const QString &text);

signals:
    void changed();
    void groupReportRequested();

private:
    QLabel *labelListenerScreen;
    QLabel *labelAudioOutput;
    QLabel *labelBreakEvery;
    QComboBox *comboBoxListenerScreen;
    QComboBox *comboBoxAudioOutput;
    QSpinBox *spinBoxBreakEvery;
    QHBoxLayout *rows[3];

    // The group report's row.
    QLabel *labelGroupReport;
    QPushButton *pushButtonGroupReport;
    QHBoxLayout *groupReportRow;
    QGridLayout *grid;
    int tasksRow;
    int columns;
    QHBoxLayout *taskButtons = nullptr;
    QVector<QPushButton *> tasks;
};

#endif // LABOPTIONSPANEL_H
