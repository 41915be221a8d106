#include "analysis/Identification.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Convergence as in R's glm.control(): relative change of the deviance
// below 1e-8, at most 25 iterations.
constexpr double devianceTolerance = 1e-8;
constexpr int maxIterations = 25;
// Halvings of one step before the fit gives up.
constexpr int maxHalvings = 60;
// qchisq(0.95, 1): twice the drop in log-likelihood at a 95 % interval's ends.
constexpr double chiSquare95 = 3.841458820694124;

// R's binomial()$linkinv and $mu.eta for the logit link: beyond |eta| = 30
// the probability stays DBL_EPSILON away from 0 and 1, and its derivative is
// DBL_EPSILON, so that no weight is ever 0.
constexpr double linkThreshold = 30.0;
constexpr double epsilon = std::numeric_limits<double>::epsilon();

double linkInverse(double eta)
{
    const double t = eta < -linkThreshold ? epsilon : eta > linkThreshold ? 1.0 / epsilon : std::exp(eta);
    return t / (1.0 + t);
}

double muEta(double eta)
{
    if (eta > linkThreshold || eta < -linkThreshold)
        return epsilon;
    const double opexp = 1.0 + std::exp(eta);
    return std::exp(eta) / (opexp * opexp);
}

double logistic(double eta)
{
    return eta >= 0 ? 1.0 / (1.0 + std::exp(-eta)) : std::exp(eta) / (1.0 + std::exp(eta));
}

// log(1 + exp(x)) without overflow.
double log1pExp(double x)
{
    return x > 0 ? x + std::log1p(std::exp(-x)) : std::log1p(std::exp(x));
}

struct Row
{
    double u;   // x - centre
    double n, k;
};

double binomialDeviance(const QVector<Row> &rows, const QVector<double> &mu)
{
    // 2 * sum of k log(k / (n mu)) + (n - k) log((n - k) / (n (1 - mu))), with 0 log 0 = 0.
    double deviance = 0.0;
    for (int i = 0; i < rows.size(); ++i) {
        const double n = rows[i].n, k = rows[i].k;
        if (k > 0)
            deviance += 2.0 * k * std::log(k / (n * mu[i]));
        if (n - k > 0)
            deviance += 2.0 * (n - k) * std::log((n - k) / (n * (1.0 - mu[i])));
    }
    return deviance;
}

// The log-likelihood (without its constant) of eta_i = theta * c_i + o_i.
double logLikelihood(const QVector<Row> &rows, const QVector<double> &c, const QVector<double> &o, double theta)
{
    double sum = 0.0;
    for (int i = 0; i < rows.size(); ++i) {
        const double eta = theta * c[i] + o[i];
        sum += rows[i].k * eta - rows[i].n * log1pExp(eta);
    }
    return sum;
}

// The largest log-likelihood of eta_i = theta * c_i + o_i over theta, by
// Newton's method with halving (the function is concave); theta starts at
// *theta and ends at the maximum.
double maximizeOneParameter(const QVector<Row> &rows, const QVector<double> &c, const QVector<double> &o,
                            double *theta)
{
    double t = *theta;
    double value = logLikelihood(rows, c, o, t);
    for (int iteration = 0; iteration < 200; ++iteration) {
        double gradient = 0.0, curvature = 0.0;
        for (int i = 0; i < rows.size(); ++i) {
            const double p = logistic(t * c[i] + o[i]);
            gradient += c[i] * (rows[i].k - rows[i].n * p);
            curvature += c[i] * c[i] * rows[i].n * p * (1.0 - p);
        }
        if (gradient == 0.0)
            break;
        double step = curvature > 0.0 ? gradient / curvature : 0.0;
        if (!std::isfinite(step) || step == 0.0)
            step = gradient > 0 ? 1.0 : -1.0;
        double next = t + step, nextValue = logLikelihood(rows, c, o, next);
        for (int halving = 0; halving < 200 && !(nextValue >= value); ++halving) {
            step /= 2.0;
            next = t + step;
            nextValue = logLikelihood(rows, c, o, next);
        }
        if (!(nextValue >= value))
            break;
        t = next;
        value = nextValue;
        if (std::abs(step) <= 1e-14 * (1.0 + std::abs(t)))
            break;
    }
    *theta = t;
    return value;
}

// One end of a profile-likelihood interval: from the estimate (where the
// profile's drop is 0) outward in direction `sign`, steps doubling from
// `scale`, until twice the drop reaches chiSquare95; then bisection between
// the last point inside and the first outside. Infinite when it is never
// reached.
template<typename Drop>
double intervalEnd(const Drop &drop, double estimate, double scale, double sign)
{
    double inside = estimate;
    double step = scale;
    for (int i = 0; i < 110; ++i) {
        const double outside = estimate + sign * step;
        if (!std::isfinite(outside))
            break;
        if (drop(outside) >= chiSquare95) {
            double low = inside, high = outside;
            for (int j = 0; j < 200; ++j) {
                const double middle = (low + high) / 2.0;
                if (middle == low || middle == high)
                    break;
                (drop(middle) >= chiSquare95 ? high : low) = middle;
            }
            return (low + high) / 2.0;
        }
        inside = outside;
        step *= 2.0;
    }
    return sign * std::numeric_limits<double>::infinity();
}

// Complete or quasi-complete separation along x: some row k such that every
// row before it has only one kind of answer and every row after it only the
// other (row k may have both). Rows are in x order and have answers.
bool findSeparation(const QVector<BinomialRow> &rows, double *low, double *high)
{
    enum Kind { OnlyFirst, OnlySecond, Both };
    for (const bool tone2First : {true, false}) {
        QVector<Kind> kinds;
        for (const BinomialRow &row : rows) {
            const bool allTone2 = row.k == row.n, noTone2 = row.k == 0;
            kinds.append(allTone2 ? (tone2First ? OnlyFirst : OnlySecond)
                                  : noTone2 ? (tone2First ? OnlySecond : OnlyFirst) : Both);
        }
        int split = 0;
        while (split < kinds.size() && kinds[split] == OnlyFirst)
            ++split;
        if (split == kinds.size())
            continue;
        bool separated = true;
        for (int i = split + 1; i < kinds.size(); ++i)
            separated = separated && kinds[i] == OnlySecond;
        if (!separated || (split == 0 && kinds[0] == OnlySecond))
            continue;
        *low = rows[split > 0 ? split - 1 : split].x;
        *high = rows[kinds[split] == OnlySecond || split + 1 == rows.size() ? split : split + 1].x;
        return true;
    }
    return false;
}

QString number(double value)
{
    return summaryNumber(value);
}

// The slope and its interval in the line under the chart: three significant
// digits, which suit a slope per step (-1.88) and one per hertz (-0.0512).
QString shortNumber(double value)
{
    return QString::number(value, 'g', 3);
}

} // namespace

QString summaryNumber(double value)
{
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    return QString::number(value, 'g', 10);
}

double LogisticFit::probability(double x) const
{
    return logistic(centredIntercept + slope * (x - centre));
}

LogisticFit fitLogistic(const QVector<BinomialRow> &allRows)
{
    LogisticFit fit;
    QVector<BinomialRow> rows;
    for (const BinomialRow &row : allRows) {
        if (row.n > 0)
            rows.append(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const BinomialRow &a, const BinomialRow &b) { return a.x < b.x; });

    int answers = 0, tone2 = 0;
    for (const BinomialRow &row : rows) {
        answers += row.n;
        tone2 += row.k;
    }
    if (rows.size() < 3) {
        fit.reason = QStringLiteral("fewer than 3 sound files have answers");
        return fit;
    }
    if (tone2 == 0 || tone2 == answers) {
        fit.reason = tone2 == 0 ? QStringLiteral("every answer is \"Tone 4\"")
                                : QStringLiteral("every answer is \"Tone 2\"");
        return fit;
    }
    if (findSeparation(rows, &fit.boundaryLow, &fit.boundaryHigh)) {
        fit.status = LogisticFit::Status::Separated;
        return fit;
    }

    // x centred on its mean over the answers: the normal equations stay well
    // conditioned whatever the files' numbers (1e8 + i included).
    double centre = 0.0;
    for (const BinomialRow &row : rows)
        centre += row.n * row.x;
    centre /= answers;
    const int m = rows.size();
    QVector<Row> data(m);
    for (int i = 0; i < m; ++i)
        data[i] = {rows[i].x - centre, double(rows[i].n), double(rows[i].k)};

    // Start where glm's binomial family starts: mu = (n y + 0.5) / (n + 1).
    QVector<double> eta(m), mu(m);
    for (int i = 0; i < m; ++i) {
        mu[i] = (data[i].k + 0.5) / (data[i].n + 1.0);
        eta[i] = std::log(mu[i] / (1.0 - mu[i]));
    }
    double deviance = binomialDeviance(data, mu);
    double a = 0.0, b = 0.0;                 // intercept (centred) and slope
    double previousA = 0.0, previousB = 0.0;  // the last iteration's, (0, 0) before the first
    double swx[3] = {0, 0, 0};   // the weighted cross-products of the last iteration: sum w, w u, w u^2
    bool converged = false;
    const auto evaluate = [&](double intercept, double slope) {
        for (int i = 0; i < m; ++i) {
            eta[i] = intercept + slope * data[i].u;
            mu[i] = linkInverse(eta[i]);
        }
        return binomialDeviance(data, mu);
    };
    for (fit.iterations = 1; fit.iterations <= maxIterations; ++fit.iterations) {
        // Working response and weights for the logit link.
        double sw = 0, su = 0, suu = 0, sz = 0, suz = 0;
        for (int i = 0; i < m; ++i) {
            const double derivative = muEta(eta[i]);
            const double variance = mu[i] * (1.0 - mu[i]);
            const double z = eta[i] + (data[i].k / data[i].n - mu[i]) / derivative;
            const double w = data[i].n * derivative * derivative / variance;
            const double u = data[i].u;
            sw += w;
            su += w * u;
            suu += w * u * u;
            sz += w * z;
            suz += w * u * z;
        }
        const double determinant = sw * suu - su * su;
        if (!(determinant > 0.0) || !std::isfinite(determinant)) {
            fit.reason = QStringLiteral("the fit did not converge");
            return fit;
        }
        swx[0] = sw;
        swx[1] = su;
        swx[2] = suu;
        a = (suu * sz - su * suz) / determinant;
        b = (sw * suz - su * sz) / determinant;
        const double previousDeviance = deviance;
        deviance = evaluate(a, b);
        // A step that overshoots is taken back by halves until the deviance
        // no longer rises (from the second iteration on: the start values
        // are not a fit, and nearly all of them lie closer to the answers
        // than any curve). glm itself halves only a deviance that is not
        // finite.
        const auto rose = [&] {
            return !std::isfinite(deviance)
                   || (fit.iterations > 1 && deviance > previousDeviance + 1e-12 * (std::abs(previousDeviance) + 0.1));
        };
        int halvings = 0;
        while (rose() && halvings < maxHalvings) {
            a = (a + previousA) / 2.0;
            b = (b + previousB) / 2.0;
            deviance = evaluate(a, b);
            ++halvings;
        }
        fit.stepHalvings += halvings;
        if (rose()) {
            fit.reason = QStringLiteral("the fit did not converge");
            return fit;
        }
        previousA = a;
        previousB = b;
        if (std::abs(deviance - previousDeviance) / (std::abs(deviance) + 0.1) < devianceTolerance) {
            converged = true;
            break;
        }
    }
    if (!converged) {
        fit.iterations = maxIterations;
        fit.reason = QStringLiteral("the fit did not converge");
        return fit;
    }

    // The covariance of (centred intercept, slope) is the inverse of X'WX.
    const double determinant = swx[0] * swx[2] - swx[1] * swx[1];
    const double varA = swx[2] / determinant;
    const double varB = swx[0] / determinant;
    const double covAB = -swx[1] / determinant;
    fit.centre = centre;
    fit.centredIntercept = a;
    fit.slope = b;
    fit.slopeSE = std::sqrt(varB);
    fit.intercept = a - b * centre;
    fit.interceptSE = std::sqrt(std::max(0.0, varA - 2.0 * centre * covAB + centre * centre * varB));
    fit.deviance = deviance;
    fit.degreesOfFreedom = m - 2;
    {
        const double p = double(tone2) / answers;
        QVector<double> nullMu(m, p);
        fit.nullDeviance = binomialDeviance(data, nullMu);
    }

    // The maximum of the log-likelihood, as exactly as the profiles need it:
    // a few more Newton steps from glm's estimate.
    QVector<double> ones(m, 1.0), zeros(m, 0.0), offset(m), spread(m);
    double maxLogLikelihood = -std::numeric_limits<double>::infinity();
    {
        double pa = a, pb = b;
        for (int step = 0; step < 5; ++step) {
            double g0 = 0, g1 = 0, h00 = 0, h01 = 0, h11 = 0;
            for (int i = 0; i < m; ++i) {
                const double p = logistic(pa + pb * data[i].u);
                const double r = data[i].k - data[i].n * p, w = data[i].n * p * (1.0 - p);
                g0 += r;
                g1 += r * data[i].u;
                h00 += w;
                h01 += w * data[i].u;
                h11 += w * data[i].u * data[i].u;
            }
            const double det = h00 * h11 - h01 * h01;
            if (!(det > 0.0))
                break;
            const double na = pa + (h11 * g0 - h01 * g1) / det, nb = pb + (h00 * g1 - h01 * g0) / det;
            for (int i = 0; i < m; ++i)
                offset[i] = na + nb * data[i].u;
            const double value = logLikelihood(data, zeros, offset, 0.0);
            if (!(value > maxLogLikelihood))
                break;
            maxLogLikelihood = value;
            pa = na;
            pb = nb;
        }
        for (int i = 0; i < m; ++i)
            offset[i] = a + b * data[i].u;
        maxLogLikelihood = std::max(maxLogLikelihood, logLikelihood(data, zeros, offset, 0.0));
    }

    // The slope's profile: for each slope, the best intercept.
    double profileA = a;
    const auto slopeDrop = [&](double slope) {
        for (int i = 0; i < m; ++i)
            offset[i] = slope * data[i].u;
        return 2.0 * (maxLogLikelihood - maximizeOneParameter(data, ones, offset, &profileA));
    };
    const double slopeScale = fit.slopeSE > 0 && std::isfinite(fit.slopeSE) ? fit.slopeSE : 1.0;
    fit.slopeLow = intervalEnd(slopeDrop, b, slopeScale, -1.0);
    profileA = a;
    fit.slopeHigh = intervalEnd(slopeDrop, b, slopeScale, 1.0);

    // Answers that do not change reliably with the file: no boundary.
    if (fit.slopeLow <= 0.0 && fit.slopeHigh >= 0.0) {
        fit.status = LogisticFit::Status::Flat;
        return fit;
    }

    // The boundary and its delta-method standard error: the gradient of
    // -a/b is (-1/b, a/b^2).
    const double boundaryCentred = -a / b;
    fit.boundary = centre + boundaryCentred;
    const double ga = -1.0 / b, gb = a / (b * b);
    fit.boundarySE = std::sqrt(ga * ga * varA + 2 * ga * gb * covAB + gb * gb * varB);

    // The boundary's profile: for each boundary t (centred), the best slope
    // of eta = slope * (u - t).
    double profileB = b;
    const auto boundaryDrop = [&](double t) {
        for (int i = 0; i < m; ++i)
            spread[i] = data[i].u - t;
        return 2.0 * (maxLogLikelihood - maximizeOneParameter(data, spread, zeros, &profileB));
    };
    const double boundaryScale = fit.boundarySE > 0 && std::isfinite(fit.boundarySE) ? fit.boundarySE : 1.0;
    fit.boundaryCILow = centre + intervalEnd(boundaryDrop, boundaryCentred, boundaryScale, -1.0);
    profileB = b;
    fit.boundaryCIHigh = centre + intervalEnd(boundaryDrop, boundaryCentred, boundaryScale, 1.0);
    fit.status = LogisticFit::Status::Ok;
    return fit;
}

QString describeFit(const LogisticFit &fit)
{
    switch (fit.status) {
    case LogisticFit::Status::Ok:
        return QStringLiteral("boundary %1 \u00b1 %2, 95 % %3 to %4 (sound-file number); slope %5, 95 % %6 to %7")
            .arg(fit.boundary, 0, 'f', 2)
            .arg(fit.boundarySE, 0, 'f', 2)
            .arg(fit.boundaryCILow, 0, 'f', 2)
            .arg(fit.boundaryCIHigh, 0, 'f', 2)
            .arg(shortNumber(fit.slope), shortNumber(fit.slopeLow), shortNumber(fit.slopeHigh));
    case LogisticFit::Status::Flat:
        return QStringLiteral("flat: the answers do not change reliably with the sound file (slope %1, 95 % %2 to %3); "
                              "no boundary")
            .arg(shortNumber(fit.slope), shortNumber(fit.slopeLow), shortNumber(fit.slopeHigh));
    case LogisticFit::Status::Separated:
        return QStringLiteral("boundary between %1 and %2 (answers separate completely)")
            .arg(fit.boundaryLow)
            .arg(fit.boundaryHigh);
    case LogisticFit::Status::NotEstimable:
        break;
    }
    return QStringLiteral("no fit: ") + fit.reason;
}

QVector<FileSummary> summarizeFiles(const QStringList &fileNames, const QVector<double> &numbers,
                                    const QVector<AnswerRecord> &answers)
{
    QVector<FileSummary> files(fileNames.size());
    QVector<QVector<double>> times(fileNames.size());
    for (int i = 0; i < files.size(); ++i) {
        files[i].fileName = fileNames[i];
        files[i].number = i < numbers.size() ? numbers[i] : i + 1;
    }
    for (const AnswerRecord &answer : answers) {
        if (!answer.counted || answer.fileIndex < 0 || answer.fileIndex >= files.size())
            continue;
        FileSummary &file = files[answer.fileIndex];
        ++file.n;
        ++(answer.answer == 2 ? file.nT2 : file.nT4);
        times[answer.fileIndex].append(answer.reactionTimeMs);
    }
    for (int i = 0; i < files.size(); ++i) {
        FileSummary &file = files[i];
        if (file.n == 0)
            continue;
        file.proportionTone2 = double(file.nT2) / file.n;
        QVector<double> &t = times[i];
        std::sort(t.begin(), t.end());
        double sum = 0.0;
        for (double v : t)
            sum += v;
        file.meanReactionTimeMs = sum / t.size();
        const int half = t.size() / 2;
        file.medianReactionTimeMs = t.size() % 2 ? t[half] : (t[half - 1] + t[half]) / 2.0;
    }
    return files;
}

QVector<BinomialRow> binomialRows(const QVector<FileSummary> &files)
{
    QVector<BinomialRow> rows;
    for (const FileSummary &file : files)
        rows.append({file.number, file.n, file.nT2});
    return rows;
}

double meanReactionTimeMs(const QVector<AnswerRecord> &answers)
{
    double sum = 0.0;
    int count = 0;
    for (const AnswerRecord &answer : answers) {
        if (answer.counted) {
            sum += answer.reactionTimeMs;
            ++count;
        }
    }
    return count > 0 ? sum / count : 0.0;
}

QByteArray summaryFileBytes(const QVector<FileSummary> &files, const LogisticFit &fit, bool numbersFromNames)
{
    QStringList lines;
    const auto key = [&lines](const QString &name, const QString &value) {
        lines.append(QStringLiteral("# ") + name + QLatin1Char('\t') + value);
    };
    const auto pair = [](double low, double high) { return number(low) + QLatin1Char('\t') + number(high); };
    const auto slopeAndRest = [&] {
        key(QStringLiteral("slope (per sound file)"), number(fit.slope));
        key(QStringLiteral("slope standard error"), number(fit.slopeSE));
        key(QStringLiteral("slope 95% confidence interval"), pair(fit.slopeLow, fit.slopeHigh));
        key(QStringLiteral("intercept"), number(fit.intercept));
        key(QStringLiteral("intercept standard error"), number(fit.interceptSE));
        key(QStringLiteral("deviance"), number(fit.deviance));
        key(QStringLiteral("degrees of freedom"), QString::number(fit.degreesOfFreedom));
    };
    switch (fit.status) {
    case LogisticFit::Status::Ok:
        key(QStringLiteral("fit"), QStringLiteral("ok"));
        key(QStringLiteral("boundary (sound-file number)"), number(fit.boundary));
        key(QStringLiteral("boundary standard error"), number(fit.boundarySE));
        key(QStringLiteral("boundary 95% confidence interval (sound-file number)"),
            pair(fit.boundaryCILow, fit.boundaryCIHigh));
        slopeAndRest();
        break;
    case LogisticFit::Status::Flat:
        key(QStringLiteral("fit"), QStringLiteral("flat: the answers do not change reliably with the sound file"));
        slopeAndRest();
        break;
    case LogisticFit::Status::Separated:
        key(QStringLiteral("fit"), QStringLiteral("separated"));
        key(QStringLiteral("boundary range (sound-file number)"), pair(fit.boundaryLow, fit.boundaryHigh));
        break;
    case LogisticFit::Status::NotEstimable:
        key(QStringLiteral("fit"), QStringLiteral("not estimable: ") + fit.reason);
        break;
    }
    key(QStringLiteral("sound-file number"),
        numbersFromNames ? QStringLiteral("from the file names") : QStringLiteral("listing order"));
    lines.append(QStringLiteral("sound file\tnumber\tn\tnT2\tnT4\tproportion Tone 2\tmean reaction time (ms)"
                                "\tmedian reaction time (ms)\tRMS (dBFS)\tlevel (dB SPL)"));
    const QString missing = QStringLiteral("NA");
    for (const FileSummary &file : files) {
        const QStringList fields{file.fileName,
                                 formatSoundFileNumber(file.number),
                                 QString::number(file.n),
                                 QString::number(file.nT2),
                                 QString::number(file.nT4),
                                 file.n > 0 ? number(file.proportionTone2) : missing,
                                 file.n > 0 ? number(file.meanReactionTimeMs) : missing,
                                 file.n > 0 ? number(file.medianReactionTimeMs) : missing,
                                 std::isnan(file.rmsDbfs) ? missing : number(file.rmsDbfs),
                                 std::isnan(file.levelDbSpl) ? missing : number(file.levelDbSpl)};
        lines.append(fields.join(QLatin1Char('\t')));
    }
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

QString summaryPathBeside(const QString &path)
{
    const QFileInfo info(path);
    QString base = info.fileName();
    if (base.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive) || base.endsWith(QLatin1String(".tsv"), Qt::CaseInsensitive))
        base.chop(4);
    return info.dir().filePath(base + QStringLiteral("_summary.tsv"));
}
