#ifndef SESSIONSETTINGS_H
#define SESSIONSETTINGS_H

#include "app/SoundFileRecord.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Everything that configures a session. Default-constructed with the values
// every start of the program begins from; nothing is stored on disk.
struct SessionSettings
{
    SessionSettings();

    double samplingRate;           // Hz, of the session's sounds and of playback
    double soundDuration;          // seconds, of the current sound
    qint32 numSamples;             // samples per channel of the current sound
    double displayDuration;        // seconds of sound shown in the waveform chart
    qint32 displaySamples;         // samples shown in the waveform chart
    bool showWholeSound;           // the waveform chart shows the whole sound
    double spectrumMaxFrequency;   // Hz, upper end of the spectrum chart
    qint32 spectrumPointCount;     // spectrum bins drawn
    QString folderDialogDir;       // start folder of the folder dialog
    QString outputPath;            // folder of the results file
    QString wavPath;               // folder of the sound files
    QString subjectCode;
    QString outputFileName;        // name of the results file, no folder
    QStringList sessionTypeNames;  // "practice", "experiment"
    qint32 sessionType;            // index into sessionTypeNames
    QStringList soundTypeNames;
    qint32 soundType;
    QStringList mainParameterNames;
    qint32 mainParameter;
    qint32 sessionNumber;
    double silentInterval;         // seconds of silence between sounds
    QString wavFileName;           // file name of the current sound
    QVector<SoundFileRecord> soundFiles; // the chosen folder's WAV files, listing order
    double reactionTime;           // the value sent at the end of a run
    bool saveDataToFile;           // write the results file at the end of a run
};

// The user's desktop folder as the platform reports it, unchanged (no
// separator appended); empty when the platform knows none.
QString desktopFolder();

#endif // SESSIONSETTINGS_H
