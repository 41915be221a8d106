#include "app/RememberedSettings.h"

#include <QDir>
#include <QSettings>

#include <algorithm>

namespace {

QString existingFolder(const QString &folder)
{
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

} // namespace

RememberedSettings loadRememberedSettings()
{
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarquel"),
                             QStringLiteral("tarquel"));
    RememberedSettings remembered;
    remembered.stimulusFolder = existingFolder(settings.value(QStringLiteral("folders/stimuli")).toString());
    remembered.outputFolder = existingFolder(settings.value(QStringLiteral("folders/output")).toString());
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
