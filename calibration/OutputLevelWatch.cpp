#include "calibration/OutputLevelWatch.h"

#ifdef TARQUEL_HAVE_LIBPULSE
#include "audio/OutputDeviceMonitor.h"
#endif

OutputLevelWatch::OutputLevelWatch(QObject *parent)
    : QObject(parent)
{
#ifdef TARQUEL_HAVE_LIBPULSE
    monitor = new OutputDeviceMonitor(this);
    connect(monitor, &OutputDeviceMonitor::stateChanged, this, &OutputLevelWatch::deviceChanged);
#endif
}

OutputLevelWatch::~OutputLevelWatch() = default;

void OutputLevelWatch::startRun(const QString &device)
{
    notes.clear();
    changedDuringRun = false;
    atStart = OutputDeviceState();
#ifdef TARQUEL_HAVE_LIBPULSE
    atStart = monitor->start(device);
#endif
    latest = atStart;
    stored = loadCalibration(atStart.known ? atStart.device : device);
}

void OutputLevelWatch::stopRun()
{
#ifdef TARQUEL_HAVE_LIBPULSE
    monitor->stop();
#endif
}

QString OutputLevelWatch::refusal() const
{
    if (!atStart.silent())
        return QString();
    const QString device = atStart.device.isEmpty() ? QStringLiteral("The output device") : atStart.device;
    if (atStart.muted) {
        return QStringLiteral("The output device %1 is muted: the listener would hear nothing. Unmute it in the "
                              "desktop's sound settings, then press \"Go\" again.")
            .arg(device);
    }
    return QStringLiteral("The output device %1 is at volume 0 %: the listener would hear nothing. Set its "
                          "volume in the desktop's sound settings, then press \"Go\" again.")
        .arg(device);
}

QString OutputLevelWatch::calibrationMismatch() const
{
    if (!stored.isValid() || !atStart.known || atStart.sameLevelAs(stored.deviceState))
        return QString();
    return QStringLiteral("The output device %1 was calibrated (%2) at volume %3, port %4.\nIt is now at volume "
                          "%5, port %6.\n\nThe levels in dB SPL of this run's summary will be NA. Go on?")
        .arg(atStart.device, stored.date.toString(Qt::ISODate),
             stored.deviceState.volumeText().replace(QLatin1Char('\t'), QStringLiteral(", ")),
             stored.deviceState.portText(), atStart.volumeText().replace(QLatin1Char('\t'), QStringLiteral(", ")),
             atStart.portText());
}

bool OutputLevelWatch::levelsHold() const
{
    return stored.isValid() && atStart.known && atStart.sameLevelAs(stored.deviceState) && !changedDuringRun;
}

QStringList OutputLevelWatch::takeNotes()
{
    QStringList taken;
    taken.swap(notes);
    return taken;
}

void OutputLevelWatch::deviceChanged(const OutputDeviceState &state)
{
    const QStringList changes = outputDeviceChanges(latest, state);
    latest = state;
    if (changes.isEmpty())
        return;
    if (!state.sameLevelAs(atStart) || state.muted != atStart.muted)
        changedDuringRun = true;
    notes.append(changes);
    for (const QString &change : changes) {
        QString text = change;
        text.replace(QLatin1Char('\t'), QStringLiteral(", "));
        text[0] = text[0].toUpper();
        emit changed(text);
    }
}
