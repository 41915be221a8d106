#include "experiment/PcmConversion.h"

#include <QtEndian>

#include <cstring>

QByteArray floatPcmBytes(const QVector<double> &samples)
{
    QByteArray bytes(samples.size() * 4, Qt::Uninitialized);
    uchar *out = reinterpret_cast<uchar *>(bytes.data());
    for (int i = 0; i < samples.size(); ++i) {
        const float value = static_cast<float>(samples[i]);
        quint32 bits;
        std::memcpy(&bits, &value, sizeof bits);
        qToLittleEndian(bits, out + 4 * i);
    }
    return bytes;
}
