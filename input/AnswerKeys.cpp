#include "input/AnswerKeys.h"

#include <Qt>

int answerForKey(quint32 xKeycode, int qtKey, const QString &text)
{
    switch (xKeycode) {
    case AnswerKeycodes::mainRow2:
    case AnswerKeycodes::keypad2:
        return 2;
    case AnswerKeycodes::mainRow4:
    case AnswerKeycodes::keypad4:
        return 4;
    default:
        break;
    }
    if (qtKey == Qt::Key_2 || text == QLatin1String("2"))
        return 2;
    if (qtKey == Qt::Key_4 || text == QLatin1String("4"))
        return 4;
    return 0;
}
