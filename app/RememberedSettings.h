#ifndef REMEMBEREDSETTINGS_H
#define REMEMBEREDSETTINGS_H

#include <QString>

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

// The remembered values. A folder that no longer exists comes back empty,
// so that the default takes its place; a break interval below 0 comes back 0.
RememberedSettings loadRememberedSettings();
void saveRememberedSettings(const RememberedSettings &remembered);

#endif // REMEMBEREDSETTINGS_H
