#include "app/SessionSettings.h"

#include <QStandardPaths>

QString desktopFolder()
{
    // Substituted into "%1" with field width 0 and a blank fill, which leaves
    // the text exactly as reported; the inserted text is not scanned again, so
    // a folder name containing "%2" stays intact.
    return QStringLiteral("%1").arg(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                    0, QLatin1Char(' '));
}

SoundFileRecord::SoundFileRecord()
    : folder(desktopFolder())
{
}

SessionSettings::SessionSettings()
    : samplingRate(40000.0)
    , soundDuration(0.25)
    , numSamples(10000)
    , displayDuration(0.25)
    , displaySamples(10000)
    , showWholeSound(false)
    , spectrumMaxFrequency(2000.0)
    , spectrumPointCount(500)
    , folderDialogDir(desktopFolder())
    , outputPath(folderDialogDir)
    , wavPath(folderDialogDir)
    , subjectCode(QStringLiteral("SUB001"))
    , outputFileName(subjectCode + QStringLiteral(".txt"))
    , sessionTypeNames({QStringLiteral("practice"), QStringLiteral("experiment")})
    , sessionType(0)
    , soundTypeNames({QStringLiteral(".wav files"), QStringLiteral("reserved")})
    , soundType(0)
    , mainParameterNames({QStringLiteral("sound files"), QStringLiteral("reserved")})
    , mainParameter(0)
    , sessionNumber(1)
    , silentInterval(1.0)
    , wavFileName(QStringLiteral("File001.wav"))
    , reactionTime(0.0)
    , saveDataToFile(true)
{
}
