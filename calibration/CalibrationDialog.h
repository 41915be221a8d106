#ifndef CALIBRATIONDIALOG_H
#define CALIBRATIONDIALOG_H

#include "calibration/Calibration.h"

#include <QDialog>

class AudioEngine;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
struct SoundTiming;

// "Calibrate level": plays the calibration tone (1000 Hz at -20 dBFS RMS)
// through the session's output until stopped, and stores the sound level
// meter's reading for that output, with the date and the device's volume
// and port at that moment.
class CalibrationDialog : public QDialog
{
    Q_OBJECT

public:
    // engine: open on the output to calibrate, at the session's rate.
    CalibrationDialog(AudioEngine *engine, const OutputDeviceState &device, QWidget *parent = nullptr);
    ~CalibrationDialog() override;

    bool playing() const { return tonePlaying; }
    const Calibration &saved() const { return calibration; }

    QPushButton *toneButton() const { return buttonTone; }
    QPushButton *saveButton() const { return buttonSave; }
    QDoubleSpinBox *firstReading() const { return spinFirst; }
    QDoubleSpinBox *secondReading() const { return spinSecond; }
    QComboBox *weightingBox() const { return comboWeighting; }

    // Stores the readings as entered.
    void save();

private:
    void toggleTone();
    void stopTone();
    void placed(const SoundTiming &timing);
    void showStored();

    AudioEngine *engine;
    OutputDeviceState deviceState;
    Calibration calibration;
    QVector<float> tone;
    quint64 lastToneId = 0;
    bool tonePlaying = false;

    QLabel *labelDevice;
    QLabel *labelStored;
    QPushButton *buttonTone;
    QDoubleSpinBox *spinFirst;
    QDoubleSpinBox *spinSecond;
    QComboBox *comboWeighting;
    QPushButton *buttonSave;
};

#endif // CALIBRATIONDIALOG_H
