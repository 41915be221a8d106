#include "audio/AudioEngineFactory.h"

#include "audio/QtAudioEngine.h"
#ifdef TARQUEL_HAVE_LIBPULSE
#include "audio/PulseAudioEngine.h"
#endif
#ifdef TARQUEL_HAVE_LIBPIPEWIRE
#include "audio/PipeWireEngine.h"
#endif

#include <QStringList>

namespace {

std::function<AudioEngine *()> &replacementMaker()
{
    static std::function<AudioEngine *()> maker;
    return maker;
}

QString backendWord(const QString &backend)
{
    if (backend == QLatin1String("pipewire"))
        return QStringLiteral("libpipewire");
    if (backend == QLatin1String("pulse"))
        return QStringLiteral("libpulse");
    return QStringLiteral("Qt Multimedia");
}

// The engine for the sound server this computer runs: PipeWire's own where
// the desktop's sound server is PipeWire (its pulse server says so, or there
// is no other), libpulse's where it is PulseAudio.
QString engineForServer(QString *why)
{
#ifdef TARQUEL_HAVE_LIBPULSE
    const QString pulseServer = PulseAudioEngine::serverName();
#else
    const QString pulseServer;
#endif
#ifdef TARQUEL_HAVE_LIBPIPEWIRE
    if (pulseServer.contains(QLatin1String("PipeWire"))) {
        *why = QStringLiteral("the sound server is PipeWire");
        return QStringLiteral("pipewire");
    }
    if (pulseServer.isEmpty() && PipeWireEngine::serverAvailable()) {
        *why = QStringLiteral("the sound server is PipeWire");
        return QStringLiteral("pipewire");
    }
#endif
#ifdef TARQUEL_HAVE_LIBPULSE
    *why = pulseServer.isEmpty() ? QStringLiteral("no sound server answered; the default of this build")
                                 : QStringLiteral("the sound server is ") + pulseServer;
    return QStringLiteral("pulse");
#else
    *why = QStringLiteral("the only engine of this build");
    return QStringLiteral("qt");
#endif
}

} // namespace

QStringList availableAudioBackends()
{
    QStringList backends;
#ifdef TARQUEL_HAVE_LIBPIPEWIRE
    backends << QStringLiteral("pipewire");
#endif
#ifdef TARQUEL_HAVE_LIBPULSE
    backends << QStringLiteral("pulse");
#endif
    backends << QStringLiteral("qt");
    return backends;
}

AudioEngine *createAudioEngine(QString *backendNote)
{
    if (replacementMaker())
        return replacementMaker()();

    const QString wanted = qEnvironmentVariable("TARQUEL_AUDIO_BACKEND").trimmed().toLower();
    QString why;
    QString backend;
    if (!wanted.isEmpty() && availableAudioBackends().contains(wanted)) {
        backend = wanted;
        why = QStringLiteral("chosen by TARQUEL_AUDIO_BACKEND");
    } else {
        backend = engineForServer(&why);
        if (!wanted.isEmpty()) {
            why = QStringLiteral("TARQUEL_AUDIO_BACKEND=%1 is not built in; this build has %2; ")
                      .arg(wanted, availableAudioBackends().join(QStringLiteral(", ")))
                  + why;
        }
    }
    if (backendNote)
        *backendNote = backendWord(backend) + QStringLiteral(" (") + why + QLatin1Char(')');
#ifdef TARQUEL_HAVE_LIBPIPEWIRE
    if (backend == QLatin1String("pipewire"))
        return new PipeWireEngine;
#endif
#ifdef TARQUEL_HAVE_LIBPULSE
    if (backend == QLatin1String("pulse"))
        return new PulseAudioEngine;
#endif
    return new QtAudioEngine;
}

void replaceAudioEngineMaker(std::function<AudioEngine *()> maker)
{
    replacementMaker() = std::move(maker);
}
