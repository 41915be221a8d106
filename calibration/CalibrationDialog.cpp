#include "calibration/CalibrationDialog.h"

#include "audio/AudioEngine.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Each copy of the tone is this long; the next is placed where it ends.
constexpr double toneCopySeconds = 5.0;

} // namespace

CalibrationDialog::CalibrationDialog(AudioEngine *engine_, const OutputDeviceState &device, QWidget *parent)
    : QDialog(parent)
    , engine(engine_)
    , deviceState(device)
    , labelDevice(new QLabel)
    , labelStored(new QLabel)
    , buttonTone(new QPushButton(QStringLiteral("Play the tone")))
    , spinFirst(new QDoubleSpinBox)
    , spinSecond(new QDoubleSpinBox)
    , comboWeighting(new QComboBox)
    , buttonSave(new QPushButton(QStringLiteral("Save")))
{
    setWindowTitle(QStringLiteral("Calibrate level"));
    labelDevice->setWordWrap(true);
    labelStored->setWordWrap(true);
    labelDevice->setText(QStringLiteral("Output: %1\nVolume: %2\nPort: %3")
                             .arg(device.device.isEmpty() ? QStringLiteral("the server's default output") : device.device,
                                  device.volumeText().replace(QLatin1Char('\t'), QStringLiteral(", ")),
                                  device.portText()));
    auto *explanation = new QLabel(
        QStringLiteral("The tone is 1000 Hz at -20 dBFS RMS, played as stimuli are. Measure it where the listener's "
                       "ear will be: with headphones, on a coupler or headphone adaptor of the sound level meter, "
                       "one ear at a time. At 1000 Hz the A, C and Z weightings agree. Enter the reading, and the "
                       "second ear's where you measure both. Keep the device's volume and port as they are now: "
                       "levels hold only at the same setting."));
    explanation->setWordWrap(true);

    for (QDoubleSpinBox *spin : {spinFirst, spinSecond}) {
        spin->setRange(0.0, 160.0);
        spin->setDecimals(1);
        spin->setSuffix(QStringLiteral(" dB SPL"));
    }
    spinSecond->setSpecialValueText(QStringLiteral("not measured"));
    comboWeighting->addItems({QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("Z")});

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Reading (first or only ear)"), spinFirst);
    form->addRow(QStringLiteral("Reading (second ear)"), spinSecond);
    form->addRow(QStringLiteral("Weighting"), comboWeighting);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->addButton(buttonSave, QDialogButtonBox::ActionRole);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(labelDevice);
    layout->addWidget(explanation);
    layout->addWidget(buttonTone);
    layout->addLayout(form);
    layout->addWidget(labelStored);
    layout->addWidget(buttons);

    connect(buttonTone, &QPushButton::clicked, this, &CalibrationDialog::toggleTone);
    connect(buttonSave, &QPushButton::clicked, this, &CalibrationDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, &CalibrationDialog::stopTone);
    if (engine)
        connect(engine, &AudioEngine::soundPlaced, this, &CalibrationDialog::placed);
    const bool canPlay = engine && engine->isOpen();
    buttonTone->setEnabled(canPlay);
    calibration = loadCalibration(device.device);
    showStored();
    if (calibration.isValid()) {
        spinFirst->setValue(calibration.readingsDbSpl.first());
        spinSecond->setValue(calibration.readingsDbSpl.size() > 1 ? calibration.readingsDbSpl[1] : 0.0);
        comboWeighting->setCurrentText(calibration.weighting);
    }
    buttonSave->setEnabled(device.known && !device.device.isEmpty());
}

CalibrationDialog::~CalibrationDialog()
{
    stopTone();
}

void CalibrationDialog::toggleTone()
{
    if (tonePlaying) {
        stopTone();
        return;
    }
    tone = calibrationTone(engine->rateHz(), toneCopySeconds);
    tonePlaying = true;
    buttonTone->setText(QStringLiteral("Stop the tone"));
    // A moment from now, so that the first copy is placed on time.
    lastToneId = engine->play(tone, monotonicNowNs() + 200'000'000);
}

// Each copy, once placed, is followed by the next where it ends: a whole
// number of periods each, the copies join without a step.
void CalibrationDialog::placed(const SoundTiming &timing)
{
    if (!tonePlaying || timing.soundId != lastToneId)
        return;
    lastToneId = engine->play(tone, timing.endNs);
}

void CalibrationDialog::stopTone()
{
    if (!tonePlaying)
        return;
    tonePlaying = false;
    lastToneId = 0;
    buttonTone->setText(QStringLiteral("Play the tone"));
    if (engine) {
        engine->cancel();
        engine->setIdle(true);
    }
}

void CalibrationDialog::save()
{
    Calibration made;
    made.device = deviceState.device;
    made.readingsDbSpl.append(spinFirst->value());
    if (spinSecond->value() > 0.0)
        made.readingsDbSpl.append(spinSecond->value());
    made.weighting = comboWeighting->currentText();
    const QDateTime now = QDateTime::currentDateTime();
    made.date = now.toOffsetFromUtc(now.offsetFromUtc());
    made.deviceState = deviceState;
    saveCalibration(made);
    calibration = loadCalibration(deviceState.device);
    showStored();
}

void CalibrationDialog::showStored()
{
    if (!calibration.isValid()) {
        labelStored->setText(QStringLiteral("No calibration is stored for this output."));
        return;
    }
    QStringList readings;
    for (double reading : calibration.readingsDbSpl)
        readings.append(QString::number(reading, 'f', 1) + QStringLiteral(" dB SPL"));
    labelStored->setText(QStringLiteral("Stored: %1 (%2-weighted) on %3, at volume %4, port %5.")
                             .arg(readings.join(QStringLiteral(" / ")), calibration.weighting,
                                  calibration.date.toString(Qt::ISODate),
                                  calibration.deviceState.volumeText().replace(QLatin1Char('\t'), QStringLiteral(", ")),
                                  calibration.deviceState.portText()));
}
