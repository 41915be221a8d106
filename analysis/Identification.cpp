#include "analysis/Identification.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

// Convergence as in R's glm.control(): relative change of the deviance
// below 1e-8, at most 25 iterations.
constexpr double devianceTolerance = 1e-8;
constexpr int maxIterations = 25;

double binomialDeviance(const QVector<BinomialRow> &rows, const QVector<double> &mu)
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

double logistic(double eta)
{
    return 1.0 / (1.0 + std::exp(-eta));
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
    return QString::number(value, 'g', 10);
}

} // namespace

double LogisticFit::probability(double x) const
{
    return logistic(intercept + slope * x);
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

    // Start where glm's binomial family starts: mu = (n y + 0.5) / (n + 1).
    const int m = rows.size();
    QVector<double> eta(m), mu(m);
    for (int i = 0; i < m; ++i) {
        mu[i] = (rows[i].k + 0.5) / (rows[i].n + 1.0);
        eta[i] = std::log(mu[i] / (1.0 - mu[i]));
    }
    double deviance = binomialDeviance(rows, mu);
    double swx[3] = {0, 0, 0};   // the weighted cross-products of the last iteration: sum w, w x, w x^2
    for (fit.iterations = 1; fit.iterations <= maxIterations; ++fit.iterations) {
        // Working response and weights for the logit link.
        double sw = 0, sx = 0, sxx = 0, sz = 0, sxz = 0;
        for (int i = 0; i < m; ++i) {
            const double variance = mu[i] * (1.0 - mu[i]);
            const double z = eta[i] + (double(rows[i].k) / rows[i].n - mu[i]) / variance;
            const double w = rows[i].n * variance;
            const double x = rows[i].x;
            sw += w;
            sx += w * x;
            sxx += w * x * x;
            sz += w * z;
            sxz += w * x * z;
        }
        const double determinant = sw * sxx - sx * sx;
        if (!(determinant > 0.0)) {
            fit.reason = QStringLiteral("the answers do not vary with the sound file");
            return fit;
        }
        swx[0] = sw;
        swx[1] = sx;
        swx[2] = sxx;
        fit.intercept = (sxx * sz - sx * sxz) / determinant;
        fit.slope = (sw * sxz - sx * sz) / determinant;
        for (int i = 0; i < m; ++i) {
            eta[i] = fit.intercept + fit.slope * rows[i].x;
            mu[i] = logistic(eta[i]);
        }
        const double previous = deviance;
        deviance = binomialDeviance(rows, mu);
        if (std::abs(deviance - previous) / (std::abs(deviance) + 0.1) < devianceTolerance)
            break;
    }
    if (fit.iterations > maxIterations || !std::isfinite(deviance)) {
        fit.status = LogisticFit::Status::NotEstimable;
        fit.reason = QStringLiteral("the fit did not converge");
        return fit;
    }

    // The covariance of (intercept, slope) is the inverse of X'WX.
    const double determinant = swx[0] * swx[2] - swx[1] * swx[1];
    const double varIntercept = swx[2] / determinant;
    const double varSlope = swx[0] / determinant;
    const double covariance = -swx[1] / determinant;
    fit.interceptSE = std::sqrt(varIntercept);
    fit.slopeSE = std::sqrt(varSlope);
    fit.deviance = deviance;
    fit.degreesOfFreedom = m - 2;
    fit.boundary = -fit.intercept / fit.slope;
    // Delta method: the gradient of -a/b is (-1/b, a/b^2).
    const double ga = -1.0 / fit.slope, gb = fit.intercept / (fit.slope * fit.slope);
    fit.boundarySE = std::sqrt(ga * ga * varIntercept + 2 * ga * gb * covariance + gb * gb * varSlope);
    // A flat fit has no point where the answers change over.
    if (!std::isfinite(fit.boundary) || !std::isfinite(fit.boundarySE)) {
        fit.reason = QStringLiteral("the answers do not change along the sound files (slope 0)");
        return fit;
    }
    fit.status = LogisticFit::Status::Ok;
    return fit;
}

QString describeFit(const LogisticFit &fit)
{
    switch (fit.status) {
    case LogisticFit::Status::Ok:
        return QStringLiteral("boundary %1 \u00b1 %2 (sound file), slope %3")
            .arg(fit.boundary, 0, 'f', 2)
            .arg(fit.boundarySE, 0, 'f', 2)
            .arg(fit.slope, 0, 'f', 2);
    case LogisticFit::Status::Separated:
        return QStringLiteral("boundary between %1 and %2 (answers separate completely)")
            .arg(fit.boundaryLow)
            .arg(fit.boundaryHigh);
    case LogisticFit::Status::NotEstimable:
        break;
    }
    return QStringLiteral("no fit: ") + fit.reason;
}

QVector<FileSummary> summarizeFiles(const QStringList &fileNames, const QVector<AnswerRecord> &answers)
{
    QVector<FileSummary> files(fileNames.size());
    QVector<QVector<double>> times(fileNames.size());
    for (int i = 0; i < files.size(); ++i) {
        files[i].fileName = fileNames[i];
        files[i].number = i + 1;
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
        rows.append({double(file.number), file.n, file.nT2});
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

QByteArray summaryFileBytes(const QVector<FileSummary> &files, const LogisticFit &fit)
{
    QStringList lines;
    const auto key = [&lines](const QString &name, const QString &value) {
        lines.append(QStringLiteral("# ") + name + QLatin1Char('\t') + value);
    };
    switch (fit.status) {
    case LogisticFit::Status::Ok:
        key(QStringLiteral("fit"), QStringLiteral("ok"));
        key(QStringLiteral("boundary (sound-file number)"), number(fit.boundary));
        key(QStringLiteral("boundary standard error"), number(fit.boundarySE));
        key(QStringLiteral("slope (per sound file)"), number(fit.slope));
        key(QStringLiteral("slope standard error"), number(fit.slopeSE));
        key(QStringLiteral("intercept"), number(fit.intercept));
        key(QStringLiteral("intercept standard error"), number(fit.interceptSE));
        key(QStringLiteral("deviance"), number(fit.deviance));
        key(QStringLiteral("degrees of freedom"), QString::number(fit.degreesOfFreedom));
        break;
    case LogisticFit::Status::Separated:
        key(QStringLiteral("fit"), QStringLiteral("separated"));
        key(QStringLiteral("boundary range (sound-file number)"),
            number(fit.boundaryLow) + QLatin1Char('\t') + number(fit.boundaryHigh));
        break;
    case LogisticFit::Status::NotEstimable:
        key(QStringLiteral("fit"), QStringLiteral("not estimable: ") + fit.reason);
        break;
    }
    lines.append(QStringLiteral("sound file\tnumber\tn\tnT2\tnT4\tproportion Tone 2\tmean reaction time (ms)"
                                "\tmedian reaction time (ms)"));
    const QString missing = QStringLiteral("NA");
    for (const FileSummary &file : files) {
        const QStringList fields{file.fileName,
                                 QString::number(file.number),
                                 QString::number(file.n),
                                 QString::number(file.nT2),
                                 QString::number(file.nT4),
                                 file.n > 0 ? number(file.proportionTone2) : missing,
                                 file.n > 0 ? number(file.meanReactionTimeMs) : missing,
                                 file.n > 0 ? number(file.medianReactionTimeMs) : missing};
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
