#ifndef REMEMBEREDSETTINGS_H
#define REMEMBEREDSETTINGS_H

#include <QString>
#include <QStringList>

// What the program remembers from one start to the next, in the platform's
// usual place for settings (on Linux ~/.config/tarquel/tarquel.conf). The
// subject code and the session number are not remembered: each session
// names its own.
struct RememberedSettings
{
    QString stimulusFolder;   // where the folder dialog starts; empty: not remembered
    QString outputFolder;     // where results were last saved; empty: not remembered
    QString listenerScreen;   // a listener-screen choice's key; empty: the default window
    QString audioOutput;      // the audio output's name; empty: the server's default
    int breakEvery = 0;       // trials between breaks; 0: none
};

// The remembered values as stored; a break interval below 0 comes back 0.
// A value is kept as it is even when what it names is not there now (a
// folder on a stick that is not plugged in, an output or a screen that is
// off): it stays remembered until the experimenter chooses another.
RememberedSettings loadRememberedSettings();
void saveRememberedSettings(const RememberedSettings &remembered);

// folder when it exists now, otherwise fallback.
QString existingFolderOr(const QString &folder, const QString &fallback);

// The audio output to open for the one chosen (empty: the server's default),
// given the outputs the server lists now.
struct AudioOutputChoice
{
    QString device;        // what to open
    bool missing = false;  // the chosen output is not among those listed: the default instead
};
// An empty list means the outputs could not be listed: the chosen one is
// then tried as it is.
AudioOutputChoice chooseAudioOutput(const QString &chosen, const QStringList &available);

// What the experimenter is told when a remembered output is not connected:
// what was remembered and what plays instead (usedInstead: the device
// opened; empty: not opened yet).
QString missingAudioOutputText(const QString &remembered, const QString &usedInstead);

// What the experimenter is told at start when the remembered listener
// screen is not connected, and asked at "Go".
QString missingListenerScreenText(const QString &remembered);
QString listenerFallbackQuestion(const QString &remembered);

#endif // REMEMBEREDSETTINGS_H
