#ifndef AUDIOENGINEFACTORY_H
#define AUDIOENGINEFACTORY_H

#include <QString>

#include <functional>

class AudioEngine;

// The engines this build has: PipeWire's own and libpulse's where their
// libraries were there at build time, and Qt Multimedia's.
QStringList availableAudioBackends();

// The engine that plays the sounds: the one the environment variable
// TARQUEL_AUDIO_BACKEND names ("pipewire", "pulse" or "qt"), or else the one
// for the sound server that runs (PipeWire's own on PipeWire, libpulse's on
// PulseAudio). The caller owns it. *backendNote, when given, says which one was chosen and
// why, for the log.
AudioEngine *createAudioEngine(QString *backendNote = nullptr);

// Replaces what createAudioEngine makes, for the whole process: the window
// tests put a stand-in engine here. An empty function restores the default.
void replaceAudioEngineMaker(std::function<AudioEngine *()> maker);

#endif // AUDIOENGINEFACTORY_H
