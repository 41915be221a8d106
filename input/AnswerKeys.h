#ifndef ANSWERKEYS_H
#define ANSWERKEYS_H

#include <QString>

// The answer a key gives: 2 ("Tone 2"), 4 ("Tone 4"), or 0 for none.
//
// The keys in the positions of 2 and 4 on the main row and of 2 and 4 on the
// keypad answer whatever the keyboard layout and NumLock say (on AZERTY the
// main-row 2 gives "é" without Shift; keypad 2 gives "Down" with NumLock
// off), and so does any key that gives the character 2 or 4.
//
// xKeycode: the key's X keycode (the kernel's key code + 8), which Qt gives
// as the native scan code under X11 and Wayland; 0 where it is not known (Qt
// Test's keys, other platforms), which leaves the characters. qtKey and text:
// QKeyEvent::key() and text().
int answerForKey(quint32 xKeycode, int qtKey, const QString &text);

// The X keycodes of those positions: the kernel's KEY_2, KEY_4, KEY_KP2 and
// KEY_KP4, + 8.
namespace AnswerKeycodes {
constexpr quint32 mainRow2 = 3 + 8;
constexpr quint32 mainRow4 = 5 + 8;
constexpr quint32 keypad2 = 80 + 8;
constexpr quint32 keypad4 = 75 + 8;
} // namespace AnswerKeycodes

#endif // ANSWERKEYS_H
