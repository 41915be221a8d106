#ifndef SOUNDFILERECORD_H
#define SOUNDFILERECORD_H

#include <QString>

// One WAV file of the session's stimulus folder and the answers given after
// it. Its index in the settings' soundFiles is the sound-file index that the
// trial order holds; index + 1 is its number on the response-trend chart.
struct SoundFileRecord
{
    SoundFileRecord();

    QString folder;            // folder that holds the file (no trailing separator)
    QString fileName;          // name with extension, without the folder
    qint32 nT2 = 0;            // "Tone 2" answers given after this file
    qint32 nT4 = 0;            // "Tone 4" answers given after this file
    double reactionTimeSum = 0.0; // sum of the measured response times, milliseconds
    qint64 framesWhenChecked = 0; // samples per channel when the folder was checked
    qint32 silentTrials = 0;   // trials that played silence because the file broke after the check
    double rmsDbfs = 0.0;      // its first channel's RMS as played, dBFS, when the folder was checked
};

#endif // SOUNDFILERECORD_H
