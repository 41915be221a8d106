#ifndef IDENTIFICATION_H
#define IDENTIFICATION_H

#include <QString>
#include <QStringList>
#include <QVector>

// The listener's identification curve: per stimulus, how often "Tone 2" was
// chosen and how fast, and a logistic fit of P("Tone 2") against the
// stimulus number with its category boundary and slope.

// Counts at one stimulus value for the fit.
struct BinomialRow
{
    double x = 0.0;   // the stimulus value (a sound file's number, or any number)
    int n = 0;        // answers
    int k = 0;        // "Tone 2" answers (the responses counted as successes)
};

// A maximum-likelihood logistic regression, P = 1 / (1 + exp(-(intercept +
// slope * x))), fitted by iteratively reweighted least squares as R's glm()
// does with family = binomial. Rows without answers are left out, as glm
// leaves out rows of weight 0.
struct LogisticFit
{
    enum class Status { Ok, Separated, NotEstimable };

    Status status = Status::NotEstimable;
    QString reason;               // NotEstimable: why, in plain words

    // Ok:
    double intercept = 0.0, interceptSE = 0.0;
    double slope = 0.0, slopeSE = 0.0;
    double deviance = 0.0;        // residual deviance
    int degreesOfFreedom = 0;     // rows with answers - 2
    double boundary = 0.0;        // -intercept / slope: where P = 0.5
    double boundarySE = 0.0;      // by the delta method
    int iterations = 0;

    // Separated: the boundary lies between these two x values (the last row
    // with only the first kind of answer, the first with only the other).
    double boundaryLow = 0.0, boundaryHigh = 0.0;

    // P at x; meaningful for Ok only.
    double probability(double x) const;
};

LogisticFit fitLogistic(const QVector<BinomialRow> &rows);

// The fit in one line for the experimenter: "boundary 3.84 ± 0.21 (sound
// file), slope -1.90", "boundary between 3 and 4 (answers separate
// completely)" or "no fit: <reason>".
QString describeFit(const LogisticFit &fit);

// One answer of a run, as the journal records it.
struct AnswerRecord
{
    int fileIndex = 0;             // index in the listing, from 0
    int answer = 0;                // 2 or 4
    double reactionTimeMs = 0.0;
    bool counted = true;           // false for an answer to silence played in place of a broken file
};

// Per sound file, over a run's counted answers.
struct FileSummary
{
    QString fileName;
    int number = 0;                // index + 1
    int n = 0, nT2 = 0, nT4 = 0;
    double proportionTone2 = 0.0;  // meaningful when n > 0
    double meanReactionTimeMs = 0.0;
    double medianReactionTimeMs = 0.0;
};

QVector<FileSummary> summarizeFiles(const QStringList &fileNames, const QVector<AnswerRecord> &answers);
QVector<BinomialRow> binomialRows(const QVector<FileSummary> &files);
// The mean reaction time over the counted answers, ms; 0 without any.
double meanReactionTimeMs(const QVector<AnswerRecord> &answers);

// The summary file: "# key<TAB>value" lines for the fit, a column line and
// one row per sound file; tab-separated, CR LF, UTF-8, numbers in %.10g,
// "NA" where a file has no answers.
QByteArray summaryFileBytes(const QVector<FileSummary> &files, const LogisticFit &fit);

// Where the summaries go: beside the results file "<name without .txt>_summary.tsv",
// beside the journal "<name without .tsv>_summary.tsv".
QString summaryPathBeside(const QString &path);

#endif // IDENTIFICATION_H
