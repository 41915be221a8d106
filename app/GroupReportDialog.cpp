#include "app/GroupReportDialog.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

GroupReportDialog::GroupReportDialog(const QString &summary, const QStringList &problems, const QImage &figure,
                                     QWidget *parent)
    : QDialog(parent)
    , summaryText(new QLabel(summary))
    , figureView(new QLabel)
{
    setWindowTitle(QStringLiteral("Group report"));
    auto *layout = new QVBoxLayout(this);
    summaryText->setWordWrap(true);
    summaryText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summaryText);
    if (!problems.isEmpty()) {
        auto *list = new QPlainTextEdit(problems.join(QLatin1Char('\n')));
        list->setReadOnly(true);
        list->setMaximumHeight(90);
        layout->addWidget(list);
    }
    figureView->setPixmap(QPixmap::fromImage(figure));
    auto *scroll = new QScrollArea;
    scroll->setWidget(figureView);
    scroll->setAlignment(Qt::AlignHCenter);
    layout->addWidget(scroll, 1);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // As large as the figure, within the screen.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() * 0.9 : QSize(1200, 900);
    resize(std::min(room.width(), figure.width() + 60), std::min(room.height(), figure.height() + 160));
}
