#ifndef IDENTIFICATION_H
#define IDENTIFICATION_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <limits>

#include "analysis/SoundFileNumbers.h"

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
// does with family = binomial: its start values, its convergence rule
// (relative change of the deviance below 1e-8) and its cap of 25 iterations.
// Unlike glm, x is centred on its mean, and a step is halved while the
// deviance rises (or is not finite), so that a step that overshoots is
// taken back. Rows without answers are left out, as glm leaves out rows of
// weight 0.
//
// Beside the delta-method standard errors, the boundary and the slope get
// 95 % intervals by profile likelihood: the values at which twice the drop in
// log-likelihood from its maximum reaches 3.8415, the 95 % point of
// chi-square with one degree of freedom. A side that never reaches it is
// infinite.
struct LogisticFit
{
    // Ok: a curve with a boundary. Flat: a curve whose slope's interval
    // holds 0, so that the answers do not change reliably with the sound
    // file, and no boundary. Separated: no finite slope fits. NotEstimable:
    // no fit (see reason).
    enum class Status { Ok, Flat, Separated, NotEstimable };

    Status status = Status::NotEstimable;
    QString reason;               // NotEstimable: why, in plain words

    // Ok and Flat:
    double intercept = 0.0, interceptSE = 0.0;   // for x itself, not centred
    double slope = 0.0, slopeSE = 0.0;
    double slopeLow = 0.0, slopeHigh = 0.0;      // 95 % profile-likelihood interval
    double deviance = 0.0;        // residual deviance
    double nullDeviance = 0.0;    // the deviance with the intercept only
    int degreesOfFreedom = 0;     // rows with answers - 2
    int iterations = 0;
    int stepHalvings = 0;         // steps taken back because the deviance rose
    double centre = 0.0;          // the mean of x over the answers, where the fit was done

    // Ok only:
    double boundary = 0.0;        // -intercept / slope: where P = 0.5
    double boundarySE = 0.0;      // by the delta method
    double boundaryCILow = 0.0, boundaryCIHigh = 0.0;   // 95 % profile-likelihood interval

    // Separated: the boundary lies between these two x values (the last row
    // with only the first kind of answer, the first with only the other).
    double boundaryLow = 0.0, boundaryHigh = 0.0;

    // Ok and Flat: a curve to draw.
    bool hasCurve() const { return status == Status::Ok || status == Status::Flat; }
    // P at x; meaningful where hasCurve().
    double probability(double x) const;
    // The intercept for x - centre.
    double centredIntercept = 0.0;
};

LogisticFit fitLogistic(const QVector<BinomialRow> &rows);

// The fit in one line for the experimenter: "boundary 3.84 ± 0.21, 95 %
// 3.41 to 4.27 (sound-file number); slope -1.90, 95 % -2.61 to -1.32",
// "flat: the answers do not change reliably with the sound file (slope 0.05,
// 95 % -0.19 to 0.28); no boundary", "boundary between 3 and 4 (answers
// separate completely)" or "no fit: <reason>".
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
    double number = 0.0;           // the file's number (see SoundFileNumbers)
    int n = 0, nT2 = 0, nT4 = 0;
    double proportionTone2 = 0.0;  // meaningful when n > 0
    double meanReactionTimeMs = 0.0;
    double medianReactionTimeMs = 0.0;
    // The file's first channel as played, over the whole file, in dBFS
    // (20 log10 of its RMS, full scale 1.0), and its level in dB SPL by the
    // output's calibration; NaN where not known.
    double rmsDbfs = std::numeric_limits<double>::quiet_NaN();
    double levelDbSpl = std::numeric_limits<double>::quiet_NaN();
};

// numbers: one per file, in listing order (SoundFileNumbers::values).
QVector<FileSummary> summarizeFiles(const QStringList &fileNames, const QVector<double> &numbers,
                                    const QVector<AnswerRecord> &answers);
QVector<BinomialRow> binomialRows(const QVector<FileSummary> &files);
// The mean reaction time over the counted answers, ms; 0 without any.
double meanReactionTimeMs(const QVector<AnswerRecord> &answers);

// The summary file: "# key<TAB>value" lines for the fit and for where the
// files' numbers came from, a column line and one row per sound file in
// listing order; tab-separated, CR LF, UTF-8, numbers in %.10g, "NA" where a
// file has no answers, "-inf" or "inf" for an interval's open side.
QByteArray summaryFileBytes(const QVector<FileSummary> &files, const LogisticFit &fit, bool numbersFromNames);

// A number as the summary writes it: %.10g, "inf" and "-inf".
QString summaryNumber(double value);

// Where the summaries go: beside the results file "<name without .txt>_summary.tsv",
// beside the journal "<name without .tsv>_summary.tsv".
QString summaryPathBeside(const QString &path);

#endif // IDENTIFICATION_H
