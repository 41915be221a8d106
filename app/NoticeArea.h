#ifndef NOTICEAREA_H
#define NOTICEAREA_H

#include <QStringList>
#include <QWidget>

class QLabel;
class QVBoxLayout;

// The main window's notices for the experimenter, under the status line: one
// coloured line per notice, newest last. Unlike a message box it never holds
// a run up, and it stays readable while the main window is disabled during a
// run. A new session ("Practice" or "Experiment") clears it.
class NoticeArea : public QWidget
{
    Q_OBJECT

public:
    enum class Level { Information, Warning, Problem };

    explicit NoticeArea(QWidget *parent = nullptr);

    // Adds a line; a notice with the same key replaces the earlier one in
    // place (a count that grows, a state that changes). An empty key always
    // adds.
    void addNotice(const QString &text, Level level = Level::Warning, const QString &key = QString());
    // Takes away the notice with this key (a state that no longer holds).
    void removeNotice(const QString &key);
    void clear();

    QStringList notices() const;
    bool hasNotice(const QString &key) const;
    int count() const { return int(lines.size()); }

private:
    struct Line
    {
        QString key;
        QLabel *label;
    };

    QVBoxLayout *layout;
    QVector<Line> lines;
};

#endif // NOTICEAREA_H
