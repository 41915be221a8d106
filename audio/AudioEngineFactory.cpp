#include "audio/AudioEngineFactory.h"

#include "audio/QtAudioEngine.h"
#ifdef TARQUEL_HAVE_LIBPULSE
#include "audio/PulseAudioEngine.h"
#endif

#include <QStringList>

namespace {

std::function<AudioEngine *()> &replacementMaker()
{
    static std::function<AudioEngine *()> maker;
    return maker;
}

} // namespace

QStringList availableAudioBackends()
{
    QStringList backends;
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
    QString backend = availableAudioBackends().constFirst();
    QString why = QStringLiteral("the default of this build");
    if (!wanted.isEmpty()) {
        if (availableAudioBackends().contains(wanted)) {
            backend = wanted;
            why = QStringLiteral("chosen by TARQUEL_AUDIO_BACKEND");
        } else {
            why = QStringLiteral("TARQUEL_AUDIO_BACKEND=%1 is not built in; this build has %2")
                      .arg(wanted, availableAudioBackends().join(QStringLiteral(", ")));
        }
    }
    if (backendNote) {
        *backendNote = (backend == QLatin1String("pulse") ? QStringLiteral("libpulse") : QStringLiteral("Qt Multimedia"))
                       + QStringLiteral(" (") + why + QLatin1Char(')');
    }
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
