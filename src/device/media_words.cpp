#include "device/media_words.h"

#include "device/vendor_codes.h"

namespace ufd {

namespace {

// The figure to a tenth, so that one just below its floor never reads as it.
QString Figure(double mbps) {
    return QString::number(mbps, 'f', 1) + " MB/s";
}

QString Floor(double mbps) {
    return QString::number(mbps) + " MB/s";
}

} // namespace

QString MediaSizeText(int64_t sectors) {
    const double mb = static_cast<double>(sectors) * 512 / 1e6;
    if (mb >= 1000) {
        return QString::number(mb / 1000, 'g', 3) + " GB";
    }
    return QString::number(mb, 'g', 3) + " MB";
}

QString MediaFailureWords(int status, const MediaFindings& m, MediaWordsTr tr) {
    // Marked for the window's translations; the records keep the English.
    const auto words = [tr](const char* english) {
        return tr != nullptr ? tr(english) : QString::fromUtf8(english);
    };
    switch (status) {
    case kStatusFakeCapacity:
        if (m.RealSectors > 0 && m.ReportedSectors > 0) {
            return words(QT_TRANSLATE_NOOP("MediaWords", "fake: %1 real of %2"))
                .arg(MediaSizeText(m.RealSectors), MediaSizeText(m.ReportedSectors));
        }
        return words(QT_TRANSLATE_NOOP(
            "MediaWords", "fake: the flash keeps fewer sectors than the drive reports"));
    case kStatusReadBackFailed:
        return words(QT_TRANSLATE_NOOP("MediaWords",
                                       "%1 of %2 sectors tested do not keep their data"))
            .arg(m.SectorsFailed)
            .arg(m.SectorsTested);
    case kStatusSlowWrite:
        return words(QT_TRANSLATE_NOOP("MediaWords", "writes %1, floor %2"))
            .arg(Figure(m.WriteMBps), Floor(m.MinWriteMBps));
    case kStatusSlowRead:
        return words(QT_TRANSLATE_NOOP("MediaWords", "reads %1, floor %2"))
            .arg(Figure(m.ReadMBps), Floor(m.MinReadMBps));
    case kStatusMediaIoFailed:
        return m.ResetTried
                   ? words(QT_TRANSLATE_NOOP("MediaWords",
                                             "stopped answering; a reset did not bring it back"))
                   : words(QT_TRANSLATE_NOOP("MediaWords", "media test read or write failed"));
    case kStatusWriteProtected:
        return words(QT_TRANSLATE_NOOP("MediaWords", "write protected (switch on)"));
    default:
        return {};
    }
}

} // namespace ufd
