#ifndef SOUNDFOLDER_H
#define SOUNDFOLDER_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <string>

class WavFile;

// The stimulus folder: which of its entries are sound files, and whether every
// one of them can be played and analysed before a session is built on them.

// The names of the regular, non-hidden files of folder whose suffix (the text
// after the last dot) is "wav" in any letter case, in name order ignoring case.
// Sub-folders are never taken, whatever their name. An empty folder path lists
// nothing: it means that no folder was chosen, not the current directory.
// Names that are not valid in the file-name encoding come last, as they
// decode (with replacement characters), for fileNameProblem to refuse.
QStringList listWavFileNames(const QString &folder);

// The longest sound a stimulus may be, in samples per channel. The waveform
// keeps one 2-D point (16 bytes) per sample in a Qt 5 container, and those
// stop at 2^31 - 1 bytes less their 24-byte header: (2^31 - 1 - 24) / 16
// points. That is 174.8 s at 768 kHz, 55.9 min at 40 kHz.
constexpr qint64 maxStimulusFrames = (qint64(1) << 31) / 16 - 2;

// Bytes of memory a sound of `frames` samples per channel takes while it is
// loaded, drawn, analysed and played: the decoded file, the samples, the
// time axis, the waveform's points, the FFT's arrays and the played copy.
qint64 stimulusMemoryBytes(qint64 frames, int channels);

// The highest sampling rate a stimulus may have, in Hz. Audio devices stop at
// 768 kHz, and every rate up to it shows exactly in the panel's six digits.
// The audio output in use may stop lower (PulseAudio at 384 kHz): the check
// takes its limit.
constexpr quint32 maxStimulusRate = 768000;

// Why the sound just read into wav cannot be a stimulus, in words for the
// experimenter (to follow the file name); empty when it can. readOk is the
// result of wav.read(). Why a read failed is judged from the header fields it
// reached, which is exact only for a WavFile that read nothing before (the
// fields it did not reach are then 0). A stimulus is linear PCM
// that the reader decoded in full, with one or two channels, frames of
// exactly one sample per channel, a sampling rate from 1 Hz to
// maxRateHz, and from 2 to maxStimulusFrames samples per channel (the
// spectrum divides by half the sample count).
//
// A sound that would need more than memoryBudgetBytes to load (0: no
// budget) is refused as too long for this computer. (The folder check also
// refuses names no results file can hold: see fileNameProblem.)
QString stimulusProblem(const WavFile &wav, bool readOk, quint32 maxRateHz = maxStimulusRate,
                        qint64 memoryBudgetBytes = 0);

// Why the file at path no longer reads (a stimulus whose load failed in a
// reader that had read other files, which cannot judge it): it cannot be
// opened, with the system's reason, is empty, or what a fresh reader finds.
QString unreadableFileReason(const QString &path);

// Why a file of this name cannot be a stimulus (empty when it can): its name
// would break the tab-separated results, journal and summary (a TAB or a
// line break splits a row; a '#' is where readers such as R's read.delim
// and pandas with comment='#' cut a row off), could not be written to the
// results file as it is, or was not valid text in the system's file-name
// encoding, so that the name as read does not open the file.
QString fileNameProblem(const QString &fileName);

// A path as the operating system takes it: in the system's file-name
// encoding (QFile::encodeName), which the WAV reader is given.
std::string fileSystemPath(const QString &path);

// Samples per channel that the header of the sound in wav announces (0
// without channels).
qint64 framesPerChannel(const WavFile &wav);

struct SoundFileProblem
{
    QString fileName;   // without the folder
    QString reason;     // plain words, no file name
};

// The outcome of reading every listed file once.
struct SoundFolderCheck
{
    QVector<SoundFileProblem> problems;  // unusable files, in listing order
    QString rateProblem;                 // set when usable files disagree on the rate
    quint32 sampleRate = 0;              // Hz, the rate all usable files share; 0 if none
    QVector<qint64> frames;              // per listed file, samples per channel as checked; 0 if unusable
    QVector<double> rmsDbfs;             // per listed file, its first channel's RMS as played, dBFS; NaN if unusable

    bool usable() const { return problems.isEmpty() && rateProblem.isEmpty(); }
};

// Reads each of fileNames in folder and collects everything that would stop a
// session on that folder: unusable files and a mix of sampling rates.
// Rates above maxRateHz (at most maxStimulusRate) are refused, and sounds
// that would need more than memoryBudgetBytes (0: no budget).
SoundFolderCheck checkSoundFiles(const QString &folder, const QStringList &fileNames,
                                 quint32 maxRateHz = maxStimulusRate, qint64 memoryBudgetBytes = 0);

// The memory a sound may take on this computer: three quarters of its
// physical memory (0 where that cannot be read).
qint64 stimulusMemoryBudget();

// The warning for a folder that failed its check.
struct FolderWarning
{
    QString text;     // the unusable files with their reasons, the rates, the question
    QString details;  // every unusable file, when there are more than text lists; else empty
};

// Lists the unusable files (the first filesListedInText of them in the text,
// all of them in the details when there are more) and the mix of rates, and
// ends with the question whether to choose another folder.
FolderWarning describeUnusableFolder(const QString &folder, const SoundFolderCheck &check);

// A message box does not scroll: longer lists go to its details.
constexpr int filesListedInText = 15;

#endif // SOUNDFOLDER_H
