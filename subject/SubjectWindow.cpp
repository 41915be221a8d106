#include "subject/SubjectWindow.h"

#include "audio/AudioEngine.h"
#include "common/WindowPlacement.h"
#include "input/AnswerInput.h"
#include "input/AnswerKeys.h"
#include "subject/KeyboardFocusWatch.h"
#include "subject/ResultText.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

namespace {

// The look of an answer button under the mouse once an answer is due; away
// from the mouse the buttons keep the platform's normal look.
const char hoverStyleSheet[] =
    "QPushButton:hover {background-color: rgb(0, 255, 255); border: 1px solid blue;}";

} // namespace

// The widgets, the layout and the central widget first, without a parent
// (the layout gives them their place), then the placement values, which are
// declared after them.
SubjectWindow::SubjectWindow(QWidget *parent)
    : QMainWindow(parent)
    , pushButtonChoice2(new QPushButton(QStringLiteral("Tone 2")))
    , pushButtonChoice4(new QPushButton(QStringLiteral("Tone 4")))
    , pushButtonIAmReady(new QPushButton(QStringLiteral("I am ready")))
    , pushButtonDone(new QPushButton(QStringLiteral("Done")))
    , labelThreshold(new QLabel(QStringLiteral("Threshold = ")))
    , labelBreak(new QLabel(QStringLiteral("Break: take a rest, then press I am ready.")))
    , labelKeys(new QLabel(QStringLiteral("Keys: 2 = Tone 2, 4 = Tone 4, Space or Enter = I am ready")))
    , gridLayout(new QGridLayout)
    , widgetCentral(new QWidget)
    , answerInput(&AnswerInput::shared())
    , focusWatch(new KeyboardFocusWatch(this))
{
    // Connected here by signature only; no widget has an object name, so no
    // slot is connected a second time by name.
    connect(pushButtonIAmReady, SIGNAL(clicked(bool)), this, SLOT(on_pushButtonIAmReady_clicked()));
    connect(pushButtonDone, SIGNAL(clicked(bool)), this, SLOT(close()));
    connect(pushButtonChoice2, SIGNAL(clicked(bool)), this, SLOT(on_pushButtonChoice2_clicked()));
    connect(pushButtonChoice4, SIGNAL(clicked(bool)), this, SLOT(on_pushButtonChoice4_clicked()));

    setupLayout();

    for (QPushButton *button : {pushButtonChoice2, pushButtonChoice4, pushButtonIAmReady})
        button->installEventFilter(this);
}

SubjectWindow::~SubjectWindow()
{
    // Going, the window loses the focus: nobody is to hear of that.
    delete focusWatch;
    focusWatch = nullptr;
    // The widgets first (each leaves the central widget and the layout as it
    // goes), then the layout, then the central widget, taken back from the
    // window so that it is freed here and only here.
    delete pushButtonChoice2;
    pushButtonChoice2 = nullptr;
    delete pushButtonChoice4;
    pushButtonChoice4 = nullptr;
    delete pushButtonIAmReady;
    pushButtonIAmReady = nullptr;
    delete pushButtonDone;
    pushButtonDone = nullptr;
    delete labelThreshold;
    labelThreshold = nullptr;
    delete labelBreak;
    labelBreak = nullptr;
    delete labelKeys;
    labelKeys = nullptr;
    delete gridLayout;
    gridLayout = nullptr;
    if (centralWidget() == widgetCentral)
        takeCentralWidget();
    delete widgetCentral;
    widgetCentral = nullptr;
}

void SubjectWindow::setupLayout()
{
    placeWindowOnScreen(this, centerOnScreen, widthFraction, heightFraction);
    setWindowTitle(QStringLiteral("Vardon Lab | Auditory Tarquel (v020) | Subject Window"));

    gridLayout->addWidget(pushButtonChoice2, 0, 0, 1, 1, Qt::Alignment());
    gridLayout->addWidget(pushButtonChoice4, 0, 1, 1, 1, Qt::Alignment());
    gridLayout->addWidget(labelThreshold, 1, 0, 1, 4, Qt::Alignment());
    gridLayout->addWidget(pushButtonIAmReady, 2, 1, 1, 2, Qt::Alignment());
    gridLayout->addWidget(pushButtonDone, 3, 1, 1, 2, Qt::Alignment());
    gridLayout->addWidget(labelBreak, 4, 0, 1, 4, Qt::Alignment());
    gridLayout->addWidget(labelKeys, 5, 0, 1, 4, Qt::Alignment());
    widgetCentral->setLayout(gridLayout);
    setCentralWidget(widgetCentral);

    pushButtonChoice2->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    pushButtonChoice4->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    labelThreshold->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    labelThreshold->setAlignment(Qt::AlignHCenter);
    labelThreshold->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The keys are the window's own (keyPressEvent): no button takes the
    // keyboard focus, so Space can never press an answer button.
    for (QPushButton *button : {pushButtonChoice2, pushButtonChoice4, pushButtonIAmReady, pushButtonDone})
        button->setFocusPolicy(Qt::NoFocus);
    pushButtonChoice2->setToolTip(QStringLiteral("Key 2"));
    pushButtonChoice4->setToolTip(QStringLiteral("Key 4"));
    pushButtonIAmReady->setToolTip(QStringLiteral("Space or Enter"));
    for (QLabel *label : {labelBreak, labelKeys}) {
        label->setAlignment(Qt::AlignHCenter);
        label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    labelBreak->hide();

    pushButtonChoice2->hide();
    pushButtonChoice4->hide();
    pushButtonIAmReady->show();
    pushButtonDone->hide();
    // The result line stays hidden for good: the values it would carry are
    // fixed placeholders that nobody measured (a reaction time of 1.23 ms, for
    // one), so showing it would present a wrong result to the listener.
    labelThreshold->hide();
}

void SubjectWindow::on_pushButtonIAmReady_clicked()
{
    setEnabled(false);
    pushButtonChoice2->setEnabled(false);
    pushButtonChoice4->setEnabled(false);
    pushButtonChoice2->show();
    pushButtonChoice4->show();
    pushButtonIAmReady->hide();
    pushButtonDone->hide();
    labelBreak->hide();
    answer = takeTiming(pushButtonIAmReady);
    emit subjectResponded(0);
    answer = AnswerTiming();
}

void SubjectWindow::enableAllChoiceButtons()
{
    pushButtonChoice2->setEnabled(true);
    pushButtonChoice4->setEnabled(true);
}

void SubjectWindow::updateSubjectWindow(int index)
{
    // Any index but -1 is a sound that has just started: nothing may be
    // answered while it plays. The index picks no button.
    setEnabled(false);
    pushButtonChoice2->setEnabled(false);
    pushButtonChoice4->setEnabled(false);
    if (index != -1)
        return;

    // The trial's sound has ended: an answer is due.
    pushButtonChoice2->setStyleSheet(QLatin1String(hoverStyleSheet));
    pushButtonChoice4->setStyleSheet(QLatin1String(hoverStyleSheet));
    pushButtonChoice2->setEnabled(true);
    pushButtonChoice4->setEnabled(true);
    setEnabled(true);
    // Stamped as it happens: a press stamped before this moment was made
    // before the buttons came on, whenever it is handled.
    buttonsOnNs = monotonicNowNs();
    focusWatch->ask();
}

void SubjectWindow::on_pushButtonChoice2_clicked()
{
    // One answer per trial: the window stays disabled until the next sound
    // has ended.
    setEnabled(false);
    answer = takeTiming(pushButtonChoice2);
    emit subjectResponded(2);
    answer = AnswerTiming();
}

void SubjectWindow::on_pushButtonChoice4_clicked()
{
    setEnabled(false);
    answer = takeTiming(pushButtonChoice4);
    emit subjectResponded(4);
    answer = AnswerTiming();
}

void SubjectWindow::finishExperiment(qreal threshold, qreal reactionTime, qint32 mainParameter)
{
    pushButtonChoice2->hide();
    pushButtonChoice4->hide();
    // Set but not shown; see setupLayout().
    labelThreshold->setText(composeResultText(threshold, reactionTime, mainParameter));
    pushButtonDone->show();
    setEnabled(true);
}

void SubjectWindow::dismiss()
{
    if (isFullScreen())
        showNormal();
    hide();
}

void SubjectWindow::showBreak()
{
    pushButtonChoice2->hide();
    pushButtonChoice4->hide();
    pushButtonDone->hide();
    labelBreak->show();
    pushButtonIAmReady->show();
    setEnabled(true);
}

void SubjectWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat()) {
        event->accept();
        return;
    }
    const InputStamp stamp = answerInput->timeOf(event);
    QPushButton *button = nullptr;
    const int key = event->key();
    const int choice = answerForKey(AnswerInput::xKeycode(event), key, event->text());
    if (choice != 0) {
        button = choice == 2 ? pushButtonChoice2 : pushButtonChoice4;
    } else if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
        button = pushButtonIAmReady;
    }
    // Exactly the buttons' rules: a key answers only where a click would.
    if (!button || !isEnabled() || !button->isVisible() || !button->isEnabled()) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    event->accept();
    if (button != pushButtonIAmReady && stamp.latestNs() < buttonsOnNs)
        return;   // pressed before the answer buttons came on
    click.valid = true;
    click.press = stamp;
    click.given = stamp;
    click.byKey = true;
    clickButton = button;
    button->click();
}

void SubjectWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    focusWatch->ask();
}

bool SubjectWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick && type != QEvent::MouseButtonRelease)
        return QMainWindow::eventFilter(watched, event);
    QPushButton *button = nullptr;
    for (QPushButton *candidate : {pushButtonChoice2, pushButtonChoice4, pushButtonIAmReady}) {
        if (watched == candidate)
            button = candidate;
    }
    if (!button || static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton || !button->isEnabled())
        return QMainWindow::eventFilter(watched, event);

    // A press; or a double click, which Qt's widgets get instead of the
    // press that made it (and which the button takes as a press).
    if (type != QEvent::MouseButtonRelease) {
        const quint64 windowTimeMs = quint64(static_cast<QInputEvent *>(event)->timestamp());
        if (type == QEvent::MouseButtonDblClick && windowTimeMs == pressWindowTimeMs)
            return pressRejected;   // a platform that sent both: that press is judged
        pressWindowTimeMs = windowTimeMs;
        // A new press: whatever an earlier one left behind is over.
        clickButton = nullptr;
        click = AnswerTiming();
        const InputStamp stamp = answerInput->timeOf(static_cast<QMouseEvent *>(event));
        pressRejected = button != pushButtonIAmReady && stamp.latestNs() < buttonsOnNs;
        pressedButton = pressRejected ? nullptr : button;
        pressStamp = stamp;
        // Never reaches the button, which therefore never clicks.
        return pressRejected;
    }

    // The release: the button clicks if it is still under the mouse.
    if (button == pressedButton) {
        click.valid = true;
        click.press = pressStamp;
        click.given = answerInput->timeOf(static_cast<QMouseEvent *>(event));
        click.byKey = false;
        clickButton = button;
    }
    pressedButton = nullptr;
    return QMainWindow::eventFilter(watched, event);
}

AnswerTiming SubjectWindow::takeTiming(QPushButton *button)
{
    AnswerTiming timing = clickButton == button && click.valid ? click : AnswerTiming::atArrival(monotonicNowNs());
    clickButton = nullptr;
    click = AnswerTiming();
    return timing;
}

InputTimeSource SubjectWindow::answerTimeSource() const
{
    return answerInput->bestSource();
}

void SubjectWindow::closeEvent(QCloseEvent *event)
{
    // A modal question box on top of this window; Yes is the default, so
    // Enter confirms, and Escape answers Cancel.
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation MessageBox"),
                    tr("Do you want to close this window?\n"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Yes);

    // No, Cancel and Escape all keep the window open and unchanged.
    if (box.exec() != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    emit subjectWindowClosed();
    event->accept();
}
