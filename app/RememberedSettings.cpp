#include "app/RememberedSettings.h"

#include <QDir>
#include <QSettings>

#include <algorithm>

RememberedSettings loadRememberedSettings()
{
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarquel"),
                             QStringLiteral("tarquel"));
    RememberedSettings remembered;
    remembered.stimulusFolder = settings.value(QStringLiteral("folders/stimuli")).toString();
    remembered.outputFolder = settings.value(QStringLiteral("folders/output")).toString();
    remembered.listenerScreen = settings.value(QStringLiteral("run/listenerScreen")).toString();
    remembered.audioOutput = settings.value(QStringLiteral("run/audioOutput")).toString();
    remembered.breakEvery = std::max(0, settings.value(QStringLiteral("run/breakEvery"), 0).toInt());
    return remembered;
}

void saveRememberedSettings(const RememberedSettings &remembered)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarquel"),
                       QStringLiteral("tarquel"));
    settings.setValue(QStringLiteral("folders/stimuli"), remembered.stimulusFolder);
    settings.setValue(QStringLiteral("folders/output"), remembered.outputFolder);
    settings.setValue(QStringLiteral("run/listenerScreen"), remembered.listenerScreen);
    settings.setValue(QStringLiteral("run/audioOutput"), remembered.audioOutput);
    settings.setValue(QStringLiteral("run/breakEvery"), remembered.breakEvery);
    settings.sync();
}

QString existingFolderOr(const QString &folder, const QString &fallback)
{
    return !folder.isEmpty() && QDir(folder).exists() ? folder : fallback;
}

AudioOutputChoice chooseAudioOutput(const QString &chosen, const QStringList &available)
{
    if (chosen.isEmpty() || available.isEmpty() || available.contains(chosen))
        return {chosen, false};
    return {QString(), true};
}

QString missingAudioOutputText(const QString &remembered, const QString &usedInstead)
{
    return QStringLiteral("The remembered audio output %1 is not connected. The sounds go to the audio server's "
                          "default output instead%2. It stays remembered until another is chosen under "
                          "\"Audio output\".")
        .arg(remembered, usedInstead.isEmpty() ? QString() : QStringLiteral(": ") + usedInstead);
}

QString missingListenerScreenText(const QString &remembered)
{
    return QStringLiteral("The remembered listener screen %1 is not connected. At \"Go\" the program asks before "
                          "it opens the listener's window on the experimenter's screen instead.")
        .arg(remembered);
}

QString listenerFallbackQuestion(const QString &remembered)
{
    return QStringLiteral("The listener screen %1 is not connected.\n\n"
                          "Go on with a window on the experimenter's screen? The listener would then see the "
                          "experimenter's screen, with the file names and the fitted curve.")
        .arg(remembered);
}
