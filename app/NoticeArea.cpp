#include "app/NoticeArea.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

// Text and background per level, fixed colours so that the line reads the
// same whether or not the window around it is enabled.
QString styleFor(NoticeArea::Level level)
{
    switch (level) {
    case NoticeArea::Level::Information:
        return QStringLiteral("QLabel { color: #0b3d91; background: #eaf1fb; padding: 2px 4px; }");
    case NoticeArea::Level::Warning:
        return QStringLiteral("QLabel { color: #7a4a00; background: #fff4d6; padding: 2px 4px; }");
    case NoticeArea::Level::Problem:
        break;
    }
    return QStringLiteral("QLabel { color: #9b0000; background: #fde8e8; padding: 2px 4px; font-weight: bold; }");
}

} // namespace

NoticeArea::NoticeArea(QWidget *parent)
    : QWidget(parent)
    , layout(new QVBoxLayout(this))
{
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    hide();
}

void NoticeArea::addNotice(const QString &text, Level level, const QString &key)
{
    QLabel *label = nullptr;
    if (!key.isEmpty()) {
        for (const Line &line : std::as_const(lines)) {
            if (line.key == key)
                label = line.label;
        }
    }
    if (!label) {
        label = new QLabel(this);
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(label);
        lines.append({key, label});
    }
    label->setStyleSheet(styleFor(level));
    label->setText(text);
    show();
}

void NoticeArea::removeNotice(const QString &key)
{
    for (int i = 0; i < lines.size(); ++i) {
        if (!key.isEmpty() && lines[i].key == key) {
            delete lines[i].label;
            lines.remove(i);
            break;
        }
    }
    if (lines.isEmpty())
        hide();
}

void NoticeArea::clear()
{
    for (const Line &line : std::as_const(lines))
        delete line.label;
    lines.clear();
    hide();
}

QStringList NoticeArea::notices() const
{
    QStringList texts;
    for (const Line &line : lines)
        texts.append(line.label->text());
    return texts;
}

bool NoticeArea::hasNotice(const QString &key) const
{
    for (const Line &line : lines) {
        if (line.key == key)
            return true;
    }
    return false;
}
