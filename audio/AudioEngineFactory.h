#ifndef AUDIOENGINEFACTORY_H
#define AUDIOENGINEFACTORY_H

#include <QString>

#include <functional>

class AudioEngine;

// The engines this build has, in the order they are tried: libpulse where it
// was there at build time, then Qt Multimedia.
QStringList availableAudioBackends();

// The engine that plays the sounds: the first available one, or the one the
// environment variable TARQUEL_AUDIO_BACKEND names ("pulse" or "qt"). The
// caller owns it. *backendNote, when given, says which one was chosen and
// why, for the log.
AudioEngine *createAudioEngine(QString *backendNote = nullptr);

// Replaces what createAudioEngine makes, for the whole process: the window
// tests put a stand-in engine here. An empty function restores the default.
void replaceAudioEngineMaker(std::function<AudioEngine *()> maker);

#endif // AUDIOENGINEFACTORY_H
